#pragma once
// A registry of its own for a test: a fresh registry file in a temporary
// folder, named by ORVANE_REGISTRY (child processes inherit it) and used by
// the default store for the object's lifetime. Afterwards the previous value
// comes back, the default store is dropped and the file is removed.
#include <filesystem>
#include <memory>
#include <string>

#include "platform/registry.h"
#include "testing/temp_dir.h"

namespace testing_support {

class TempRegistry {
public:
    TempRegistry();
    ~TempRegistry();
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    const std::filesystem::path& path() const { return file_; }
    // The default store, now on this file.
    std::shared_ptr<platform::registry::Store> store() const { return platform::registry::defaultStore(); }

private:
    TempDir dir_;
    std::filesystem::path file_;
    std::string previous_;
    bool hadPrevious_ = false;
};

} // namespace testing_support
