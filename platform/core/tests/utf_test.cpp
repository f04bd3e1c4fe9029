#include "platform/utf.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf, DecodesUtf8AndReplacesWhatIsMalformed)
{
    struct Case {
        std::string_view in;
        std::u16string out;
    } cases[] = {
        {"BF2 (v1.5)", u"BF2 (v1.5)"},
        {"Caf\xC3\xA9 \xE2\x82\xAC", u"Caf\u00E9 \u20AC"},
        {"\xF0\x9F\x98\x80!", u"\U0001F600!"},            // outside the BMP: a surrogate pair
        {"a\xC3", u"a\uFFFD"},                              // cut short at the end
        {"\xE2\x82" "A", u"\uFFFD\uFFFDA"},                 // cut short, then a letter
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate written as UTF-8
        {"\xFF", u"\uFFFD"},
        {"", u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::utf8ToUtf16(c.in), c.out) << c.in;
}

TEST(Utf, Latin1BytesAreTheirOwnCodePoints)
{
    EXPECT_EQ(platform::latin1ToUtf16("Caf\xE9 \xFF"), u"Caf\u00E9 \u00FF");
}

TEST(Utf, LeadingDecimalReadsSignAndDigitsAndWraps)
{
    struct Case {
        std::u16string_view in;
        std::uint32_t out;
    } cases[] = {
        {u"123", 123u},
        {u"+7", 7u},
        {u"-1", 0xFFFFFFFFu},
        {u"42abc", 42u},
        {u"", 0u},
        {u"x1", 0u},
        {u"-", 0u},
        {u" 5", 0u},                 // blanks are the caller's business
        {u"4294967296", 0u},         // wraps modulo 2^32
        {u"4294967295", 0xFFFFFFFFu},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::leadingDecimal(c.in), c.out) << std::string(c.in.begin(), c.in.end());
}

} // namespace
