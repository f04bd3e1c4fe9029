#include "platform/utf.h"

namespace platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point starting at text[i]; i moves past it (one byte when the
// sequence is malformed, truncated, overlong or a surrogate).
char32_t decodeOne(std::string_view text, std::size_t& i)
{
    const auto lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80)
        return lead;
    int length = 0;
    char32_t minimum = 0;
    char32_t c = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, c = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, c = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, c = lead & 0x07u;
    } else {
        return kReplacement;
    }
    const std::size_t start = i;
    for (int k = 1; k < length; ++k) {
        if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            i = start;
            return kReplacement;
        }
        c = (c << 6) | (static_cast<unsigned char>(text[i++]) & 0x3Fu);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        i = start;
        return kReplacement;
    }
    return c;
}

} // namespace

std::u16string utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = decodeOne(text, i);
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::u16string latin1ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (char c : text)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

std::u16string formatText(std::u16string_view format, std::initializer_list<std::u16string_view> args)
{
    std::u16string out;
    auto arg = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u's') {
            if (arg != args.end())
                out += *arg++;
            ++i;
        } else {
            out.push_back(format[i]);
        }
    }
    return out;
}

std::uint32_t leadingDecimal(std::u16string_view text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = value * 10u + static_cast<std::uint32_t>(text[i] - u'0');
    return negative ? 0u - value : value;
}

} // namespace platform
