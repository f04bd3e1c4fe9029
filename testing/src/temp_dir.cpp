#include "testing/temp_dir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <stdlib.h>

namespace testing_support {

TempDir::TempDir(std::string_view prefix)
{
    std::filesystem::path base = "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
        base = tmp;
    std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    path_ = buffer.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace testing_support
