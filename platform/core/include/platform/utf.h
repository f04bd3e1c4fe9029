#pragma once
// Text conversion at the system boundary: the suite's wide text is UTF-16
// (char16_t), the system's is UTF-8 or Latin-1; and the number attributes
// of the suite's XML files read from that text.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace platform {

// UTF-8 to UTF-16. Malformed bytes become U+FFFD, one byte at a time, so
// that text from another program never stops a comparison.
std::u16string utf8ToUtf16(std::string_view text);

// Latin-1 (ISO 8859-1) to UTF-16: every byte is its own code point.
std::u16string latin1ToUtf16(std::string_view text);

// `format` with each "%s" replaced, in order, by the arguments; a "%s"
// beyond the last argument is left out.
std::u16string formatText(std::u16string_view format, std::initializer_list<std::u16string_view> args);

// A number attribute of the suite's XML files: an optional sign and the
// decimal digits up to the first other character, wrapping modulo 2^32
// (so "-1" is 0xFFFFFFFF); no digits read as 0.
std::uint32_t leadingDecimal(std::u16string_view text);

} // namespace platform
