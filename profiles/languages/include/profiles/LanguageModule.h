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
#include <cstdint>

inline constexpr const char* kLanguageStringFunction = "OrvaneLoadString";
inline constexpr unsigned int kLanguageNameStringId = 40001;

extern "C" {
using OrvaneLoadStringFn = int (*)(unsigned int id, char16_t* buffer, int bufferSize);
}
