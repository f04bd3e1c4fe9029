#pragma once
// Loading libraries by the names the suite's code gives them: "X.dll" is
// X.so, '\' separates folders, and the file is matched without regard to
// case in its folder (names given in code and names on disk differ in case).
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The file a module name stands for: separators converted, doubled ones
// collapsed, ".dll" replaced by ".so", and the file name matched without
// case in its folder. The converted path when nothing matches.
std::filesystem::path resolveModulePath(std::string_view name);

// The file Module::load loads for `name`: a relative name is found in the
// program's folders (see program_folders.h), matched as resolveModulePath
// does. The converted path when it is nowhere.
std::filesystem::path findModule(std::string_view name);

// Whether `name` is a bare file name: not empty, not "." or "..", and
// without '/', '\\' or NUL.
bool isBareFileName(std::string_view name);

class Module {
public:
    // Loads a module (dlopen, symbols bound now and kept local); nullopt when
    // it cannot be loaded.
    static std::optional<Module> load(std::string_view name);
    // Loads the module `fileName` of `folder` (matched as load() does), and
    // only that: nullopt without trying when the name is not a bare file
    // name (empty, ".", "..", or holding a '/', '\\' or NUL), so a name
    // read from a file or a peer never reaches another folder.
    static std::optional<Module> loadFromFolder(const std::filesystem::path& folder, std::string_view fileName);

    Module(Module&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Module& operator=(Module&& other) noexcept;
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // The address of an exported symbol, null when it has none of that name.
    void* symbol(const char* name) const;
    template <typename Fn>
    Fn function(const char* name) const
    {
        return reinterpret_cast<Fn>(symbol(name));
    }

private:
    explicit Module(void* handle) : handle_(handle) {}
    void* handle_;
};

} // namespace platform
