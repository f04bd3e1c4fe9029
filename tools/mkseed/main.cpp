// mkseed <folder>: writes what an installed program copies into a user's
// new working folder: settings.xml with the default settings and Profiles/
// with the default profile.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "profiles/AppSettings.h"
#include "profiles/ProfileList.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: mkseed <folder>\n", stderr);
        return 2;
    }
    std::error_code ec;
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder / std::u16string(kProfilesFolder), ec);
    // Profile paths are relative to the working folder.
    std::filesystem::current_path(folder, ec);
    if (ec) {
        std::fprintf(stderr, "mkseed: cannot use %s: %s\n", folder.c_str(), ec.message().c_str());
        return 1;
    }
    if (CAppSettings{}.Save(CAppSettings::kFileName) != 0) {
        std::fputs("mkseed: cannot write settings.xml\n", stderr);
        return 1;
    }
    auto profile = CProfileList::MakeDefaultProfile();
    profile->Path = CProfileList::MakeFileName(profile->Name, false);
    if (profile->Save() != 0) {
        std::fputs("mkseed: cannot write the default profile\n", stderr);
        return 1;
    }
    return 0;
}
