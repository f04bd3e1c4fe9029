#include "profiles/Profile.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>


#include <xercesc/dom/DOM.hpp>

#include "camera/xml_utils.h"
#include "platform/debug.h"
#include "platform/file_replace.h"
#include "platform/utf.h"

using Orvane::XmlUtils;
using namespace xercesc;

namespace {

std::u16string ascii(std::string_view s)
{
    return std::u16string(s.begin(), s.end());
}

template <typename T>
std::u16string decimal(T v)
{
    return ascii(std::to_string(v));
}

// Whole numbers are written plainly; others in the six-digit general form.
std::u16string formatSmoothing(float v)
{
    char buf[32];
    if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e9f) {
        const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(v));
        return ascii(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
    }
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return ascii(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

char16_t foldCase(char16_t c)
{
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<char16_t>(c + 0x20);
    return c;
}

// A game id: a decimal number up to 4294967295, or -1 for the default
// profile's 4294967295. Other negative numbers, and numbers too large for
// 32 bits, would wrap to some other game's id and are refused.
bool gameIdOf(std::u16string_view s, std::uint32_t& id)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+'))
        negative = s[i++] == u'-';
    std::uint64_t v = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        v = v * 10u + static_cast<std::uint64_t>(s[i] - u'0');
        if (v > 0xFFFFFFFFull)
            return false;
    }
    if (negative && v != 1)
        return false;
    id = negative ? CProfile::kDefaultGameId : static_cast<std::uint32_t>(v);
    return true;
}

std::int32_t attributeInt(std::u16string_view s)
{
    return static_cast<std::int32_t>(platform::leadingDecimal(s));
}

void report(const std::string& file, const std::string& what)
{
    platform::debug::output("profile " + file + ": " + what);
}

const DOMElement* firstElement(const DOMDocument* doc, const char16_t* name)
{
    if (!doc)
        return nullptr;
    const DOMNodeList* list = doc->getElementsByTagName(name);
    return list ? dynamic_cast<const DOMElement*>(list->item(0)) : nullptr;
}

} // namespace

CProfileAxis::CProfileAxis(std::int32_t type) : Type(type)
{
    Reset();
}

void CProfileAxis::Reset()
{
    Enabled = 1;
    Inverted = 0;
    SetCurveType(kCurveSmooth);
}

int CProfileAxis::SetCurveType(std::int32_t type)
{
    ApplyCurvePreset(type, CurveData);
    CurveType = type;
    BuildCurve();
    return 0;
}

void CProfileAxis::BuildCurve()
{
    CurveTable.Build(CurveData);
}

CProfile::CProfile()
{
    for (int i = 0; i < kAxisCount; ++i)
        Axes[static_cast<std::size_t>(i)] = CProfileAxis(i);
}

int CProfile::SetDefaults()
{
    Smoothing = 25.0f;
    TrueView = 1;
    MotionType = 1;
    for (auto& axis : Axes)
        axis.Reset();
    Axes[CProfileAxis::Roll].Enabled = 0;
    HotKeys.SetDefaults();
    return 0;
}

int CProfile::IsAssociatedWith(std::uint32_t gameId) const
{
    for (std::uint32_t id : GameIds)
        if (id == gameId)
            return 1;
    return 0;
}

std::u16string ReplaceNoCase(std::u16string_view text, std::u16string_view find, std::u16string_view replace)
{
    if (find.empty())
        return std::u16string(text);
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        bool match = i + find.size() <= text.size();
        for (std::size_t k = 0; match && k < find.size(); ++k)
            match = foldCase(text[i + k]) == foldCase(find[k]);
        if (match) {
            out += replace;
            i += find.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::u16string EscapeProfileText(std::u16string_view text)
{
    // Characters XML 1.0 cannot hold at all (most controls, lone surrogates,
    // U+FFFE/U+FFFF) become U+FFFD: written raw they would make the whole
    // file unreadable.
    std::u16string clean;
    clean.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            clean += c;
            clean += text[++i];
        } else if ((c >= 0xD800 && c <= 0xDFFF) || (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') ||
                   c == 0xFFFE || c == 0xFFFF) {
            clean += u'\uFFFD';
        } else {
            clean += c;
        }
    }
    std::u16string s = ReplaceNoCase(clean, u"&", u"&amp;");
    s = ReplaceNoCase(s, u"<", u"&lt;");
    // A reader turns a raw CR into LF; the reference keeps it.
    s = ReplaceNoCase(s, u"\r", u"&#13;");
    return ReplaceNoCase(s, u"]]>", u"]]&gt;");
}

std::string ProfileFileSystemPath(std::u16string_view path)
{
    std::u16string p(path);
    for (auto& c : p)
        if (c == u'\\')
            c = u'/';
    return XmlUtils::Narrow(p);
}

std::u16string CProfile::ToXml() const
{
    std::u16string x;
    x += u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n";
    x += u"<Profile>\n";
    x += u"  <Name>" + EscapeProfileText(Name) + u"</Name>\n";
    x += u"  <Notes>" + EscapeProfileText(Notes) + u"</Notes>\n";
    x += u"  <Smoothing>" + formatSmoothing(Smoothing) + u"</Smoothing>\n";
    x += u"  <TrueView>" + decimal(TrueView) + u"</TrueView>\n";
    x += u"  <MotionType>" + decimal(MotionType) + u"</MotionType>\n";
    x += u"  <Override>" + decimal(Override) + u"</Override>\n";
    for (std::uint32_t id : GameIds)
        x += u"  <AssociatedGame Id=\"" + decimal(id) + u"\"></AssociatedGame>\n";
    for (int i = 0; i < kAxisCount; ++i) {
        const CProfileAxis& a = Axes[static_cast<std::size_t>(i)];
        x += u"  <Axis Type=\"" + decimal(i) + u"\" Enabled=\"" + decimal(a.Enabled) + u"\" Inverted=\"" +
             decimal(a.Inverted) + u"\" CurveType=\"" + decimal(a.CurveType) + u"\">\n";
        x += u"    <CurveData";
        for (int k = 0; k < kCurveKnotCount; ++k)
            x += u" p" + decimal(k) + u"=\"" + decimal(a.CurveData[static_cast<std::size_t>(k)]) + u"\"";
        x += u"></CurveData>\n";
        x += u"  </Axis>\n";
    }
    HotKeys.WriteXml(x, u"  ");
    x += u"</Profile>\n";
    return x;
}

int CProfile::Save() const
{
    const std::string file = ProfileFileSystemPath(Path);
    const std::u16string xml = ToXml();
    // UTF-16, little-endian code units, no byte-order mark.
    std::string bytes;
    bytes.reserve(xml.size() * 2);
    for (char16_t c : xml) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }

    // Written beside the target and renamed over it only when complete and
    // on disk, so a failed or interrupted save leaves the old file as it was.
    if (!platform::files::ReplaceFile(file, bytes)) {
        report(file, "could not be written completely; the old file is kept");
        return 2;
    }
    return 0;
}

int CProfile::Load(const std::function<void(std::u16string_view)>& tell, std::u16string_view readError)
{
    const std::string file = ProfileFileSystemPath(Path);
    const auto fail = [&](const std::string& why) {
        report(file, "Could not read profile " + file + ". " + why);
        // The two "%s" of the language's text take the path and the reason.
        if (tell)
            tell(platform::formatText(readError, {XmlUtils::Widen(file), XmlUtils::Widen(why)}));
        return 2;
    };
    // A file far beyond any real profile is refused before it is parsed.
    if (const std::int64_t size = platform::files::FileSize(file); size > kMaxFileBytes)
        return fail("The file is " + std::to_string(size) + " bytes long; a profile holds at most " +
                    std::to_string(kMaxFileBytes) + ".");
    std::u16string error;
    XmlUtils::ParserPtr parser = XmlUtils::LoadXml(XmlUtils::Widen(file), error);
    // A damaged file is reported and changes nothing: the object keeps
    // what it had and the caller leaves the file where it is.
    if (!parser)
        return fail(XmlUtils::Narrow(error));
    const DOMElement* profile = firstElement(parser->getDocument(), u"Profile");
    if (!profile) {
        report(file, "has no Profile element");
        return 13;
    }

    const auto simple = [&](const char16_t* name) { return XmlUtils::GetElementsByTagName(profile, name); };
    XmlUtils::GetNodeStringValue(simple(u"Name"), Name);
    XmlUtils::GetNodeStringValue(simple(u"Notes"), Notes);
    const auto integer = [&](const char16_t* name, auto&& store) {
        int v = 0;
        std::u16string text;
        if (!XmlUtils::GetNodeStringValue(simple(name), text))
            return;
        if (!XmlUtils::ParseInt(XmlUtils::Narrow(text), v)) {
            report(file, "<" + XmlUtils::Narrow(name) + "> is not a number; the value is kept");
            return;
        }
        store(v);
    };
    integer(u"Smoothing", [&](int v) {
        if (v < 1 || v > 100)
            report(file, "Smoothing " + std::to_string(v) + " is outside 1 to 100; the value is kept");
        else
            Smoothing = static_cast<float>(v);
    });
    integer(u"TrueView", [&](int v) { TrueView = v; });
    integer(u"MotionType", [&](int v) {
        if (v < 0 || v > 3)
            report(file, "MotionType " + std::to_string(v) + " is outside 0 to 3; the value is kept");
        else
            MotionType = v;
    });
    integer(u"Override", [&](int v) { Override = v; });

    if (const DOMNodeList* games = simple(u"AssociatedGame")) {
        const XMLSize_t count = games->getLength(); // walks the whole tree: once
        for (XMLSize_t i = 0; i < count; ++i)
            if (const auto* e = dynamic_cast<const DOMElement*>(games->item(i)))
                if (const auto text = XmlUtils::GetAttribute(e, u"Id"); !text.empty()) {
                    std::uint32_t id = 0;
                    if (gameIdOf(text, id))
                        GameIds.push_back(id);
                    else
                        report(file, "AssociatedGame Id \"" + XmlUtils::Narrow(text) +
                                         "\" is no game id; the association is ignored");
                }
    }

    if (const DOMNodeList* axes = simple(u"Axis")) {
        const XMLSize_t count = axes->getLength(); // walks the whole tree: once
        for (XMLSize_t i = 0; i < count; ++i) {
            const auto* e = dynamic_cast<const DOMElement*>(axes->item(i));
            if (!e)
                continue;
            const auto typeText = XmlUtils::GetAttribute(e, u"Type");
            const std::int32_t type = typeText.empty() ? -1 : attributeInt(typeText);
            if (type < 0 || type >= kAxisCount) {
                report(file, "an Axis with Type \"" + XmlUtils::Narrow(typeText) + "\" is ignored");
                continue;
            }
            CProfileAxis& axis = Axes[static_cast<std::size_t>(type)];
            axis.Type = type;
            if (const auto v = XmlUtils::GetAttribute(e, u"Enabled"); !v.empty())
                axis.Enabled = attributeInt(v);
            if (const auto v = XmlUtils::GetAttribute(e, u"Inverted"); !v.empty())
                axis.Inverted = attributeInt(v);
            if (const auto v = XmlUtils::GetAttribute(e, u"CurveType"); !v.empty())
                axis.CurveType = attributeInt(v);
            const DOMNodeList* data = XmlUtils::GetElementsByTagName(e, u"CurveData");
            const auto* curve = data ? dynamic_cast<const DOMElement*>(data->item(0)) : nullptr;
            for (int k = 0; curve && k < kCurveKnotCount; ++k) {
                const auto v = XmlUtils::GetAttribute(curve, u"p" + decimal(k));
                if (v.empty())
                    continue;
                const std::int32_t slope = attributeInt(v);
                const std::int32_t held = ClampCurveSlope(slope);
                if (held != slope)
                    report(file, "axis " + std::to_string(type) + " slope p" + std::to_string(k) + " " +
                                     std::to_string(slope) + " is held to " + std::to_string(held));
                axis.CurveData[static_cast<std::size_t>(k)] = held;
            }
            axis.BuildCurve();
        }
    }

    const DOMNodeList* hotKeys = simple(u"HotKeys");
    if (const auto* first = hotKeys ? dynamic_cast<const DOMElement*>(hotKeys->item(0)) : nullptr)
        HotKeys.ReadXml(first);
    else
        report(file, "has no HotKeys element; the hot keys are kept");
    return 0;
}
