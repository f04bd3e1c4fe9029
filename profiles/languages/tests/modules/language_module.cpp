// A language module for the tests; which one is chosen at build time.
#include "profiles/LanguageModule.h"

#ifndef LANGUAGE_TEST_NoExport
namespace {

[[maybe_unused]] int copy(const char16_t* text, char16_t* buffer, int size)
{
    if (size < 1)
        return 0;
    int n = 0;
    while (text[n] != 0 && n < size - 1) {
        buffer[n] = text[n];
        ++n;
    }
    buffer[n] = 0;
    return n;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int OrvaneLoadString(unsigned int id, char16_t* buffer, int size)
{
#if defined(LANGUAGE_TEST_French)
    if (id == kLanguageNameStringId)
        return copy(u"Fran\u00e7ais", buffer, size);
    if (id == 5004)
        return copy(u"Profil par d\u00e9faut", buffer, size);
#elif defined(LANGUAGE_TEST_EnglishToo)
    if (id == kLanguageNameStringId)
        return copy(u"English", buffer, size);
#elif defined(LANGUAGE_TEST_EmptyName)
    if (id == kLanguageNameStringId)
        return copy(u"", buffer, size);
#endif
    (void)id;
    (void)buffer;
    (void)size;
    return 0;
}
#else
extern "C" __attribute__((visibility("default"))) int languageTestOther() { return 1; }
#endif
