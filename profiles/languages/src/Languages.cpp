#include "profiles/Languages.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "platform/debug.h"
#include "platform/modules.h"
#include "platform/program_folders.h"

namespace fs = std::filesystem;

namespace {

constexpr int kNameBufferSize = 260;

bool hasModuleExtension(const std::string& name)
{
    if (name.size() <= 3)
        return false;
    std::string ext = name.substr(name.size() - 3);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".so";
}

std::u16string widen(std::string_view utf8)
{
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        char32_t c = 0xFFFD;
        std::size_t n = 1;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4;
        }
        if (n > 1) {
            if (i + n > utf8.size()) {
                n = 1;
            } else {
                c = b & (0x3F >> (n - 1));
                for (std::size_t k = 1; k < n; ++k) {
                    const auto t = static_cast<unsigned char>(utf8[i + k]);
                    if ((t & 0xC0) != 0x80) {
                        c = 0xFFFD;
                        n = 1;
                        break;
                    }
                    c = (c << 6) | (t & 0x3F);
                }
            }
        }
        if (c >= 0x10000 && c <= 0x10FFFF) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(c > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(c));
        }
        i += n;
    }
    return out;
}

// The language's own name from the module, empty when it has none.
std::u16string languageName(const platform::Module& module)
{
    const auto load = module.function<OrvaneLoadStringFn>(kLanguageStringFunction);
    if (load == nullptr)
        return {};
    return LoadLanguageString<kNameBufferSize>(load, kLanguageNameStringId);
}

} // namespace

void CLanguageList::Build()
{
    entries_.clear();
    // The program's language folder: the shipped one of an installed
    // program, else the one in the working folder.
    const fs::path folder = platform::resolve(kLanguageFolder);
    std::error_code ec;
    fs::create_directory(folder, ec);
    CLanguageInfo english;
    english.Name = kBuiltInLanguageName;
    english.Module = kBuiltInLanguageModule;
    entries_.push_back(std::move(english));

    // File-name order, so that the choice list is the same on every start.
    std::vector<std::string> names;
    ec.clear();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (hasModuleExtension(name) && !it->is_directory(typeError))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        const std::string file = (folder / name).string();
        const std::optional<platform::Module> module = platform::Module::load(file);
        if (!module) {
            platform::debug::output("languages: " + file + " does not load; not listed");
            continue;
        }
        std::u16string language = languageName(*module);
        if (language.empty()) {
            platform::debug::output("languages: " + file + " names no language; not listed");
            continue;
        }
        CLanguageInfo info;
        info.Name = std::move(language);
        info.Module = widen(name);
        entries_.push_back(std::move(info));
    }
}

int CLanguageList::FindModule(std::u16string_view module) const
{
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].Module == module)
            return static_cast<int>(i);
    return -1;
}
