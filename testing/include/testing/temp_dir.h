#pragma once
// A fresh, unique folder for a test, removed with everything in it when the
// object goes away.
#include <filesystem>
#include <string_view>

namespace testing_support {

class TempDir {
public:
    // Made under $TMPDIR (or /tmp); `prefix` starts the folder's name.
    explicit TempDir(std::string_view prefix = "orvane-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // A path inside the folder (nothing is created).
    std::filesystem::path file(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace testing_support
