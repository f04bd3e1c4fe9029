#include "testing/temp_registry.h"

#include <cstdlib>

namespace testing_support {

TempRegistry::TempRegistry() : dir_("orvane-registry"), file_(dir_.file("registry.db"))
{
    if (const char* old = std::getenv("ORVANE_REGISTRY")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("ORVANE_REGISTRY", file_.c_str(), 1);
    platform::registry::resetDefaultStore();
}

TempRegistry::~TempRegistry()
{
    // Close the default store before its file goes with the folder.
    platform::registry::resetDefaultStore();
    if (hadPrevious_)
        ::setenv("ORVANE_REGISTRY", previous_.c_str(), 1);
    else
        ::unsetenv("ORVANE_REGISTRY");
}

} // namespace testing_support
