#include "profiles/AppSettings.h"

#include "camera/xml_utils.h"
#include "platform/debug.h"
#include "platform/file_replace.h"
#include "platform/utf.h"

#include <xercesc/dom/DOM.hpp>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <ctime>

#include <locale.h>

namespace {

using Orvane::XmlUtils;

// ---- numbers as text, independent of the process's locale ---------------

locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", nullptr);
    return loc;
}

template <typename T>
std::string toText(T value)
{
    char buffer[64];
    // Shortest form that reads back as the same value: "25", "0.25", "500",
    // and every digit a double needs.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// The leading number of the text, as the C library's conversion reads it
// (leading blanks, sign, decimal or hexadecimal form); false when the text
// does not begin with a number.
// (Beyond the type's range the conversion gives an infinity.)
bool parseReal(const std::string& text, double& out)
{
    char* end = nullptr;
    const double v = strtod_l(text.c_str(), &end, cLocale());
    if (end == text.c_str())
        return false;
    out = v;
    return true;
}

bool parseReal(const std::string& text, float& out)
{
    char* end = nullptr;
    const float v = strtof_l(text.c_str(), &end, cLocale());
    if (end == text.c_str())
        return false;
    out = v;
    return true;
}

// The favourites' ids may stand after blanks.
std::uint32_t parseAttributeNumber(std::u16string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    return platform::leadingDecimal(text.substr(i));
}

// ---- text into the file ---------------------------------------------------

void appendCharRef(std::string& out, char32_t c)
{
    char buffer[16];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::uint32_t>(c), 16);
    out += "&#x";
    out.append(buffer, r.ptr);
    out += ';';
}

// Element text for the file, which stays ASCII: markup characters as
// entities, other characters beyond printable ASCII (and the blanks a parser
// would fold) as character references. Characters that XML cannot hold at
// all (most control characters, unpaired surrogates, U+FFFE and U+FFFF)
// become U+FFFD.
std::string escapeText(std::u16string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c == '\t' || c == '\n' || c == '\r' || (c >= 0x7F && c != 0xFFFE && c != 0xFFFF)) {
            appendCharRef(out, c);
        } else {
            appendCharRef(out, 0xFFFD);
        }
    }
    return out;
}

void appendElement(std::string& out, std::string_view name, std::string_view value)
{
    out += "  <";
    out += name;
    out += '>';
    out += value;
    out += "</";
    out += name;
    out += ">\r\n";
}

// ---- reading --------------------------------------------------------------

void report(const std::string& what)
{
    platform::debug::output("settings: " + what + "\n");
}

// Reads the simple elements below the Settings element. A value that is not
// a number, or not one the field can take, keeps the field's value and is
// reported; a number beyond a range with a natural end is held to that end.
class Reader {
public:
    explicit Reader(const xercesc::DOMElement* root) : root_(root) {}

    // True when the element held a number, now in `field`.
    bool integer(std::string_view name, std::int32_t& field) const
    {
        std::string text;
        int value = 0;
        if (!XmlUtils::GetNodeStringValue(XmlUtils::GetElementsByTagName(root_, name), text))
            return false;
        if (!XmlUtils::ParseInt(text, value)) {
            report("<" + std::string(name) + "> \"" + text + "\" is not a number; the value is kept");
            return false;
        }
        field = value;
        return true;
    }
    // One of the values first..last; anything else keeps the field.
    void choice(std::string_view name, std::int32_t& field, std::int32_t first, std::int32_t last) const
    {
        std::int32_t value = field;
        if (!integer(name, value))
            return;
        if (value >= first && value <= last)
            field = value;
        else
            report("<" + std::string(name) + "> " + std::to_string(value) + " is not one of " +
                   std::to_string(first) + " to " + std::to_string(last) + "; the value is kept");
    }
    // A number held to first..last.
    void bounded(std::string_view name, std::int32_t& field, std::int32_t first, std::int32_t last) const
    {
        std::int32_t value = field;
        if (!integer(name, value))
            return;
        field = std::clamp(value, first, last);
        if (field != value)
            report("<" + std::string(name) + "> " + std::to_string(value) + " is held to " + std::to_string(field));
    }
    // A finite number, at least `least` (and above it when `strict`).
    template <typename T>
    void real(std::string_view name, T& field, double least = -HUGE_VAL, bool strict = false) const
    {
        std::string text;
        if (!XmlUtils::GetNodeStringValue(XmlUtils::GetElementsByTagName(root_, name), text))
            return;
        T value = 0;
        if (!parseReal(text, value)) {
            report("<" + std::string(name) + "> \"" + text + "\" is not a number; the value is kept");
            return;
        }
        if (!std::isfinite(value) || value < least || (strict && value == least)) {
            report("<" + std::string(name) + "> " + text + " is out of range; the value is kept");
            return;
        }
        field = value;
    }
    void text(std::string_view name, std::u16string& field) const
    {
        std::u16string value;
        if (XmlUtils::GetNodeStringValue(XmlUtils::GetElementsByTagName(root_, name), value))
            field = std::move(value);
    }

private:
    const xercesc::DOMElement* root_;
};

const xercesc::DOMElement* settingsElement(xercesc::DOMDocument* doc)
{
    if (doc == nullptr)
        return nullptr;
    const xercesc::DOMElement* root = doc->getDocumentElement();
    if (root == nullptr)
        return nullptr;
    if (std::u16string_view(root->getTagName()) == u"Settings")
        return root;
    const xercesc::DOMNodeList* list = XmlUtils::GetElementsByTagName(root, u"Settings");
    return list != nullptr ? dynamic_cast<const xercesc::DOMElement*>(list->item(0)) : nullptr;
}

} // namespace

int CTrackingSettings::SetDefaults()
{
    LedsOn = 1;
    LightFiltering = 0;
    HalvexorLedsOn = 0;
    HalvexorLightFiltering = 1;
    UseBlueLed = 1;
    CameraRotation = 0;
    FilterThreshold = 130;
    HalvexorFilterThreshold = 230;
    SetObjectType(0);
    PendrixLocation = kDefaultPendrixLocation;
    Sorting = kDefaultSorting;
    PointT_X = kDefaultPointT[0];
    PointT_Y = kDefaultPointT[1];
    PointT_Z = kDefaultPointT[2];
    Delta_0 = kDefaultDelta[0];
    Delta_1 = kDefaultDelta[1];
    Delta_2 = kDefaultDelta[2];
    dist01 = kDefaultDist01;
    dist02 = kDefaultDist02;
    dist12 = kDefaultDist12;
    return 0;
}

int CTrackingSettings::SetObjectType(std::int32_t type)
{
    if (type == 0) {
        ObjectRatioMin = 0.25f;
        ObjectRatioMax = 4.0f;
        ObjectRatioBest = 1.0f;
        ObjectSizeMin = 5.0f;
        ObjectSizeMax = 500.0f;
        ObjectSizeBest = 100.0f;
    } else if (type == 1) {
        ObjectRatioMin = 0.25f;
        ObjectRatioMax = 5.0f;
        ObjectRatioBest = 2.2f;
        ObjectSizeMin = 5.0f;
        ObjectSizeMax = 500.0f;
        ObjectSizeBest = 200.0f;
    }
    ObjectType = type;
    return 0;
}

int CAppSettings::SetDefaults()
{
    RunAtStartup = 0;
    CloseToTray = 0;
    RunMinimized = 0;
    ConfirmClose = 1;
    PeriodicNewsCheck = 1;
    ProfileLaunchHeads = 1;
    ProfileLaunchGlobe = 1;
    ProfileLaunchGauges = 1;
    ProfileLaunchTracking = 1;
    TitleFilter = -1;
    LanguageDll = kDefaultLanguageDll;
    Tracking.SetDefaults();
    return 0;
}

int CAppSettings::IsFavorite(std::uint32_t id) const
{
    return std::find(Favorites.begin(), Favorites.end(), id) != Favorites.end() ? 1 : 0;
}

void CAppSettings::AddFavorite(std::uint32_t id)
{
    Favorites.push_back(id);
}

void CAppSettings::RemoveFavorite(std::uint32_t id)
{
    const auto it = std::find(Favorites.begin(), Favorites.end(), id);
    if (it != Favorites.end())
        Favorites.erase(it);
}

std::string CAppSettings::ToXml() const
{
    std::string out;
    out.reserve(2048);
    out += "<Settings>\r\n";
    appendElement(out, "RunAtStartup", toText(RunAtStartup));
    appendElement(out, "CloseToTray", toText(CloseToTray));
    appendElement(out, "RunMinimized", toText(RunMinimized));
    appendElement(out, "ConfirmClose", toText(ConfirmClose));
    appendElement(out, "LanguageDll", escapeText(LanguageDll));
    appendElement(out, "PeriodicNewsCheck", toText(PeriodicNewsCheck));
    appendElement(out, "ProfileLaunchHeads", toText(ProfileLaunchHeads));
    appendElement(out, "ProfileLaunchGauges", toText(ProfileLaunchGauges));
    appendElement(out, "ProfileLaunchGlobe", toText(ProfileLaunchGlobe));
    appendElement(out, "ProfileLaunchTracking", toText(ProfileLaunchTracking));
    appendElement(out, "TitleFilter", toText(TitleFilter));
    for (std::uint32_t id : Favorites) {
        out += "  <Favorite Id=\"";
        out += toText(id);
        out += "\"></Favorite>\r\n";
    }
    const CTrackingSettings& t = Tracking;
    appendElement(out, "LedsOn", toText(t.LedsOn));
    appendElement(out, "LightFiltering", toText(t.LightFiltering));
    appendElement(out, "HalvexorLedsOn", toText(t.HalvexorLedsOn));
    appendElement(out, "HalvexorLightFiltering", toText(t.HalvexorLightFiltering));
    appendElement(out, "UseBlueLed", toText(t.UseBlueLed));
    appendElement(out, "FilterThreshold", toText(t.FilterThreshold));
    appendElement(out, "HalvexorFilterThreshold", toText(t.HalvexorFilterThreshold));
    appendElement(out, "ObjectType", toText(t.ObjectType));
    appendElement(out, "CameraRotation", toText(t.CameraRotation));
    appendElement(out, "ObjectRatioMin", toText(t.ObjectRatioMin));
    appendElement(out, "ObjectRatioMax", toText(t.ObjectRatioMax));
    appendElement(out, "ObjectRatioBest", toText(t.ObjectRatioBest));
    appendElement(out, "ObjectSizeMin", toText(t.ObjectSizeMin));
    appendElement(out, "ObjectSizeMax", toText(t.ObjectSizeMax));
    appendElement(out, "ObjectSizeBest", toText(t.ObjectSizeBest));
    appendElement(out, "PendrixLocation", toText(t.PendrixLocation));
    appendElement(out, "Sorting", toText(t.Sorting));
    appendElement(out, "PointT_X", toText(t.PointT_X));
    appendElement(out, "PointT_Y", toText(t.PointT_Y));
    appendElement(out, "PointT_Z", toText(t.PointT_Z));
    appendElement(out, "Delta_0", toText(t.Delta_0));
    appendElement(out, "Delta_1", toText(t.Delta_1));
    appendElement(out, "Delta_2", toText(t.Delta_2));
    appendElement(out, "dist01", toText(t.dist01));
    appendElement(out, "dist02", toText(t.dist02));
    appendElement(out, "dist12", toText(t.dist12));
    out += "</Settings>\r\n";
    return out;
}

int CAppSettings::Save(const std::filesystem::path& file) const
{
    return platform::files::ReplaceFile(file, ToXml()) ? 0 : 2;
}

int CAppSettings::Load(const std::filesystem::path& file)
{
    if (const std::int64_t size = platform::files::FileSize(file); size > kMaxFileBytes) {
        report(file.string() + " is " + std::to_string(size) + " bytes long; settings hold at most " +
               std::to_string(kMaxFileBytes));
        return 2;
    }
    std::u16string error;
    const XmlUtils::ParserPtr parser = XmlUtils::LoadXml(std::u16string_view(file.u16string()), error);
    if (!parser)
        return 2;
    const xercesc::DOMElement* root = settingsElement(parser->getDocument());
    if (root == nullptr)
        return 2;

    const Reader r(root);
    r.integer("RunAtStartup", RunAtStartup);
    r.integer("CloseToTray", CloseToTray);
    r.integer("RunMinimized", RunMinimized);
    r.integer("ConfirmClose", ConfirmClose);
    r.text("LanguageDll", LanguageDll);
    r.integer("PeriodicNewsCheck", PeriodicNewsCheck);
    r.integer("ProfileLaunchHeads", ProfileLaunchHeads);
    r.integer("ProfileLaunchGauges", ProfileLaunchGauges);
    r.integer("ProfileLaunchGlobe", ProfileLaunchGlobe);
    r.integer("ProfileLaunchTracking", ProfileLaunchTracking);
    r.integer("TitleFilter", TitleFilter);

    if (const xercesc::DOMNodeList* favourites = XmlUtils::GetElementsByTagName(root, "Favorite")) {
        const XMLSize_t count = favourites->getLength(); // walks the whole tree: once
        for (XMLSize_t i = 0; i < count; ++i) {
            const auto* element = dynamic_cast<const xercesc::DOMElement*>(favourites->item(i));
            const std::u16string id = XmlUtils::GetAttribute(element, u"Id");
            if (!id.empty())
                Favorites.push_back(parseAttributeNumber(id));
        }
    }

    CTrackingSettings& t = Tracking;
    r.integer("LedsOn", t.LedsOn);
    r.integer("LightFiltering", t.LightFiltering);
    r.integer("HalvexorLedsOn", t.HalvexorLedsOn);
    r.integer("HalvexorLightFiltering", t.HalvexorLightFiltering);
    r.integer("UseBlueLed", t.UseBlueLed);
    // The camera takes its threshold as one byte.
    r.bounded("FilterThreshold", t.FilterThreshold, 0, 255);
    r.bounded("HalvexorFilterThreshold", t.HalvexorFilterThreshold, 0, 255);
    // The type as read; the limits come from their own elements.
    r.integer("ObjectType", t.ObjectType);
    r.choice("CameraRotation", t.CameraRotation, 0, 3);
    r.real("ObjectRatioMin", t.ObjectRatioMin, 0.0);
    r.real("ObjectRatioMax", t.ObjectRatioMax, 0.0, true);
    r.real("ObjectRatioBest", t.ObjectRatioBest, 0.0);
    r.real("ObjectSizeMin", t.ObjectSizeMin, 0.0);
    r.real("ObjectSizeMax", t.ObjectSizeMax, 0.0, true);
    r.real("ObjectSizeBest", t.ObjectSizeBest, 0.0);
    r.choice("PendrixLocation", t.PendrixLocation, 0, kMaxPendrixLocation);
    r.choice("Sorting", t.Sorting, 0, kMaxSorting);
    r.real("PointT_X", t.PointT_X);
    r.real("PointT_Y", t.PointT_Y);
    r.real("PointT_Z", t.PointT_Z);
    r.real("Delta_0", t.Delta_0);
    r.real("Delta_1", t.Delta_1);
    r.real("Delta_2", t.Delta_2);
    r.real("dist01", t.dist01, 0.0, true);
    r.real("dist02", t.dist02, 0.0, true);
    r.real("dist12", t.dist12, 0.0, true);
    return 0;
}

std::filesystem::path CAppSettings::KeepDamaged(const std::filesystem::path& file, std::time_t now)
{
    std::tm local {};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
    const std::string stem = file.stem().string() + "-damaged-" + stamp;
    const std::string extension = file.extension().string();
    std::filesystem::path kept = file;
    kept.replace_filename(stem + extension);
    for (int n = 2; std::filesystem::exists(kept) && n < 1000; ++n)
        kept.replace_filename(stem + "-" + std::to_string(n) + extension);
    std::error_code ec;
    std::filesystem::rename(file, kept, ec);
    return ec ? std::filesystem::path() : kept;
}

int CAppSettings::LoadOrCreate(const std::filesystem::path& file, std::filesystem::path* keptAs)
{
    if (keptAs)
        keptAs->clear();
    const int result = Load(file);
    if (result != 0) {
        // A file that is there but cannot be read is kept beside under a
        // dated name before the defaults replace it.
        std::error_code ec;
        if (std::filesystem::exists(file, ec)) {
            const std::filesystem::path kept = KeepDamaged(file, std::time(nullptr));
            report(file.string() + " is damaged; " +
                   (kept.empty() ? std::string("it could not be kept aside") : "kept as " + kept.string()) +
                   "; the defaults are used");
            if (keptAs)
                *keptAs = kept.empty() ? file : kept;
        }
        SetDefaults();
        Save(file);
    }
    return result;
}

std::u16string CAppSettings::DamagedMessage(const std::filesystem::path& keptAs, std::u16string_view format)
{
    return platform::formatText(format, {keptAs.u16string()});
}

std::size_t CAppSettings::RemoveLeftovers(const std::filesystem::path& file)
{
    const std::string name = file.filename().string();
    return platform::files::RemoveLeftoverTemporaries(
        file.has_parent_path() ? file.parent_path() : std::filesystem::path("."),
        [&](std::string_view target) { return target == name; });
}
