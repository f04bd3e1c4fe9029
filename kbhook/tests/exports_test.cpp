// The deliverable library carries every export by its plain name.
#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

TEST(KeysnareLibrary, ExportsByName)
{
    void* lib = dlopen(KEYSNARE_SO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char* name :
         {"InstallKBhook", "RemoveKBhook", "SetKBhotKeys", "ClearKBhotKeys", "SplitHotKeyAndModifiers",
          "FilterAllKeys", "StartTypingHook", "StopTypingHook", "LowLevelKeyboardHookProc", "KeyboardHookProc",
          "FilterAllKeyboardHookProcLL", "FilterAllKeyboardHookProc", "KeyboardHook_Start", "KeyboardHook_Stop"}) {
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    }
    // Nothing of the layers below leaks out.
    EXPECT_EQ(dlsym(lib, "_ZN8platform9TickCountEv"), nullptr);
    using Split = void (*)(unsigned, unsigned*, unsigned*);
    auto split = reinterpret_cast<Split>(dlsym(lib, "SplitHotKeyAndModifiers"));
    ASSERT_NE(split, nullptr);
    unsigned key = 0, mods = 0;
    split(0x0004007Bu, &key, &mods);
    EXPECT_EQ(key, 0x7Bu);
    EXPECT_EQ(mods, 4u);
    dlclose(lib);
}

} // namespace
