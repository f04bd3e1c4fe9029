#pragma once
// What a language module is: a shared library ("<Language>.so" in the
// "Language" folder) carrying the program's texts in one language. It exports
// one C function that copies a text by its id:
//
//   extern "C" int OrvaneLoadString(unsigned int id, char16_t* buffer, int bufferSize);
//
// It writes at most bufferSize - 1 UTF-16 units of text `id` and a null into
// buffer and returns the number of units written without the null; 0 when it
// has no such text (or bufferSize is below 1). Text 40001 is the language's
// own name.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr const char* kLanguageStringFunction = "OrvaneLoadString";
inline constexpr unsigned int kLanguageNameStringId = 40001;

extern "C" {
using OrvaneLoadStringFn = int (*)(unsigned int id, char16_t* buffer, int bufferSize);
}

// Text `id` of a module's function, read through a buffer of `bufferSize`
// units; empty when the module has no such text. The count the module
// returns is trusted only as far as the buffer and its first null go.
template <int bufferSize = 1024>
std::u16string LoadLanguageString(OrvaneLoadStringFn load, unsigned int id)
{
    char16_t buffer[bufferSize] = {};
    const int n = load(id, buffer, bufferSize);
    if (n <= 0)
        return {};
    const std::u16string_view text(buffer, static_cast<std::size_t>(std::min(n, bufferSize - 1)));
    return std::u16string(text.substr(0, text.find(u'\0')));
}
