#include "camera/config_script.h"

#include "camera/xml_utils.h"
#include "platform/file_replace.h"

#include <xercesc/dom/DOM.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace Orvane {

namespace {

std::string Number(double v)
{
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

std::string Hex(unsigned v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
    return buf;
}

bool ParseDouble(const std::string& text, double& out)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    while (first < last && (*first == ' ' || *first == '\t'))
        ++first;
    if (first < last && *first == '+')
        ++first;
    double v = 0;
    auto [ptr, ec] = std::from_chars(first, last, v);
    // A score of NaN or infinity would poison every comparison of the scorer.
    if (ec != std::errc() || ptr == first || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

bool ParseDecimal(const std::string& text, int& out)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first < last && *first == '+')
        ++first;
    auto [ptr, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && ptr != first;
}

const xercesc::DOMElement* Single(const xercesc::DOMElement* parent, std::string_view tag)
{
    const xercesc::DOMNodeList* list = XmlUtils::GetElementsByTagName(parent, tag);
    if (list == nullptr || list->getLength() != 1)
        return nullptr;
    const xercesc::DOMNode* node = list->item(0);
    if (node == nullptr || node->getNodeType() != xercesc::DOMNode::ELEMENT_NODE)
        return nullptr;
    return static_cast<const xercesc::DOMElement*>(node);
}

std::string TagName(const xercesc::DOMElement* e)
{
    return XmlUtils::Narrow(std::u16string_view(reinterpret_cast<const char16_t*>(e->getTagName())));
}

const char* OnOff(bool on) { return on ? "On" : "Off"; }
const char* TrueFalse(bool on) { return on ? "true" : "false"; }

} // namespace

CameraConfigScript::CameraConfigScript()
{
    using S = TrackableScorer;
    scores_ = {
        {S::ObjectMass, "objectMass"},   {S::LastTracked, "lastTracked"}, {S::StaticCount, "staticCount"},
        {S::AspectRatio, "aspectRatio"}, {S::Proximity, "proximity"},     {S::ScreenCenter, "screenCenter"},
    };
}

bool CameraConfigScript::operator==(const CameraConfigScript& o) const
{
    return scores_ == o.scores_ && pulseLeds_ == o.pulseLeds_ && videoThreshold_ == o.videoThreshold_ &&
           invertVideo_ == o.invertVideo_ && illumination_ == o.illumination_ && green_ == o.green_ &&
           red_ == o.red_ && caseLight_ == o.caseLight_ && i2c_ == o.i2c_;
}

std::string CameraConfigScript::ToXml() const
{
    std::string x = "<CameraConfiguration>\n  <ScorerData>\n";
    for (const ObjectScore& s : scores_) {
        x += "    <" + s.elementName + " min=\"" + Number(s.min) + "\" max=\"" + Number(s.max) + "\" best=\"" +
             Number(s.best) + "\" outOfRange=\"" + Number(s.outOfRange) + "\" weight=\"" + Number(s.weight) +
             "\"/>\n";
    }
    x += "  </ScorerData>\n";
    if (!i2c_.empty()) {
        x += "  <I2cCommandList>\n";
        for (const I2cCommand& c : i2c_) {
            x += "    <I2cCommand address=\"" + Hex(c.address) + "\" subAddress=\"" + Hex(c.subAddress) + "\">\n";
            x += "      <Data>" + Hex(c.data) + "</Data>\n";
            x += "    </I2cCommand>\n";
        }
        x += "  </I2cCommandList>\n";
    }
    x += std::string("  <LEDs green=\"") + OnOff(green_) + "\" red=\"" + OnOff(red_) + "\" case=\"" +
         OnOff(caseLight_) + "\" illumination=\"" + OnOff(illumination_) + "\"/>\n";
    x += "  <CameraOptions threshold=\"" + std::to_string(videoThreshold_) + "\" invert=\"" +
         TrueFalse(invertVideo_) + "\" pulseLeds=\"" + TrueFalse(pulseLeds_) + "\"/>\n";
    x += "</CameraConfiguration>\n";
    return x;
}

bool CameraConfigScript::WriteXml(std::string_view path) const
{
    // Replaced whole: a failed or interrupted write keeps the old file.
    return platform::files::ReplaceFile(std::filesystem::path(std::string(path)), ToXml());
}

bool CameraConfigScript::ReadXml(std::string_view path)
{
    std::ifstream in{std::string(path), std::ios::binary};
    if (!in) {
        error_ = "Cannot open file " + std::string(path);
        return false;
    }
    // Real scripts are about a kilobyte; a far larger file is refused unparsed.
    if (const std::int64_t size = platform::files::FileSize(std::string(path)); size > MaxFileBytes) {
        error_ = "File " + std::string(path) + " is " + std::to_string(size) + " bytes long; a script holds at most " +
                 std::to_string(MaxFileBytes);
        return false;
    }
    std::string error;
    XmlUtils::ParserPtr parser = XmlUtils::LoadXml(path, error);
    if (!parser) {
        error_ = error;
        return false;
    }
    CameraConfigScript read;
    const xercesc::DOMDocument* doc = parser->getDocument();
    const xercesc::DOMElement* root = doc != nullptr ? doc->getDocumentElement() : nullptr;
    if (root == nullptr || TagName(root) != "CameraConfiguration") {
        error_ = "No CameraConfiguration element";
        return false;
    }
    for (ObjectScore& s : read.scores_) {
        const xercesc::DOMElement* e = Single(root, s.elementName);
        if (e == nullptr || !ParseDouble(XmlUtils::GetAttribute(e, std::string_view("min")), s.min) ||
            !ParseDouble(XmlUtils::GetAttribute(e, std::string_view("max")), s.max) ||
            !ParseDouble(XmlUtils::GetAttribute(e, std::string_view("best")), s.best) ||
            !ParseDouble(XmlUtils::GetAttribute(e, std::string_view("outOfRange")), s.outOfRange) ||
            !ParseDouble(XmlUtils::GetAttribute(e, std::string_view("weight")), s.weight)) {
            error_ = "Missing or unreadable score " + s.elementName;
            return false;
        }
    }
    if (const xercesc::DOMNodeList* list = XmlUtils::GetElementsByTagName(root, std::string_view("I2cCommand"))) {
        const XMLSize_t count = list->getLength(); // walks the whole tree: once
        for (XMLSize_t i = 0; i < count; ++i) {
            const auto* e = static_cast<const xercesc::DOMElement*>(list->item(i));
            int address = 0, sub = 0, data = 0;
            if (!XmlUtils::ParseInt(XmlUtils::GetAttribute(e, std::string_view("address")), address) ||
                !XmlUtils::ParseInt(XmlUtils::GetAttribute(e, std::string_view("subAddress")), sub) ||
                !XmlUtils::GetNodeIntValue(XmlUtils::GetElementsByTagName(e, std::string_view("Data")), data)) {
                error_ = "Unreadable I2cCommand";
                return false;
            }
            // Each is one byte on the wire: a larger value is refused, never cut.
            for (const auto& [name, v] : {std::pair{"address", address}, {"subAddress", sub}, {"Data", data}}) {
                if (v < 0 || v > 0xFF) {
                    error_ = std::string("I2cCommand ") + name + " " + std::to_string(v) + " is outside 0 to 0xFF";
                    return false;
                }
            }
            read.i2c_.push_back({static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(sub),
                                 static_cast<std::uint8_t>(data)});
        }
    }
    if (const xercesc::DOMElement* leds = Single(root, "LEDs")) {
        read.green_ = XmlUtils::GetAttribute(leds, std::string_view("green")) == "On";
        read.red_ = XmlUtils::GetAttribute(leds, std::string_view("red")) == "On";
        read.caseLight_ = XmlUtils::GetAttribute(leds, std::string_view("case")) == "On";
        read.illumination_ = XmlUtils::GetAttribute(leds, std::string_view("illumination")) == "On";
    }
    if (const xercesc::DOMElement* options = Single(root, "CameraOptions")) {
        int threshold = DefaultVideoThreshold;
        if (ParseDecimal(XmlUtils::GetAttribute(options, std::string_view("threshold")), threshold))
            read.videoThreshold_ = threshold;
        read.invertVideo_ = XmlUtils::GetAttribute(options, std::string_view("invert")) == "true";
        read.pulseLeds_ = XmlUtils::GetAttribute(options, std::string_view("pulseLeds")) == "true";
    }
    read.error_.clear();
    *this = std::move(read);
    return true;
}

std::string CameraConfigScript::ToString() const
{
    std::string s = "--------- Camera Options ----------\n";
    s += std::string("Pulse LEDs : ") + TrueFalse(pulseLeds_) + "\n";
    s += std::string("Invert Video : ") + TrueFalse(invertVideo_) + "\n";
    s += "Threshold : " + std::to_string(videoThreshold_) + "\n";
    s += "----------- LEDs ---------------\n";
    s += std::string("Illumination : ") + OnOff(illumination_) + "\n";
    s += std::string("Case : ") + OnOff(caseLight_) + "\n";
    s += std::string("Status Red : ") + OnOff(red_) + "\n";
    s += std::string("Status Green : ") + OnOff(green_) + "\n";
    for (const ObjectScore& o : scores_) {
        s += o.elementName + " Min: " + Number(o.min) + ", Max: " + Number(o.max) + ", Best: " + Number(o.best) +
             "\n";
        s += "  Out of Range: " + Number(o.outOfRange) + ", Weight: " + Number(o.weight) + "\n";
    }
    for (const I2cCommand& c : i2c_)
        s += "I2C " + Hex(c.address) + " " + Hex(c.subAddress) + " " + Hex(c.data) + "\n";
    return s;
}

void CameraConfigScript::SetScorerValues(TrackableScorer& scorer) const
{
    for (const ObjectScore& s : scores_)
        scorer.SetWeight(s.name, s.weight);
    for (const ObjectScore& s : scores_)
        scorer.SetValues(s.name, s.min, s.max, s.best, s.outOfRange);
}

void CameraConfigScript::GetScorerConfig(const TrackableScorer& scorer)
{
    for (ObjectScore& s : scores_) {
        s.min = scorer.GetMinValue(s.name);
        s.max = scorer.GetMaxValue(s.name);
        s.best = scorer.GetBestValue(s.name);
        s.outOfRange = scorer.GetOutsideRangeValue(s.name);
        s.weight = scorer.GetWeight(s.name);
    }
}

bool CameraConfigScript::SetLeds(CameraLedControl& leds) const
{
    bool ok = leds.SetIlluminationLeds(illumination_);
    ok = leds.SetGreenStatus(green_) && ok;
    ok = leds.SetRedStatus(red_) && ok;
    ok = leds.SetCaseLight(caseLight_) && ok;
    const unsigned expected = (illumination_ ? CameraLedControl::Illumination : 0u) |
                              (caseLight_ ? CameraLedControl::Case : 0u) | (green_ ? CameraLedControl::Green : 0u) |
                              (red_ ? CameraLedControl::Red : 0u);
    return ok && leds.Confirm(expected);
}

bool ApplyConfiguration(const CameraConfigScript& script, TrackableScorer& scorer, CameraLedControl& leds)
{
    script.SetScorerValues(scorer);
    return script.SetLeds(leds);
}

bool ApplyConfiguration(std::string_view path, CameraConfigScript& script, TrackableScorer& scorer,
                        CameraLedControl& leds)
{
    return script.ReadXml(path) && ApplyConfiguration(script, scorer, leds);
}

} // namespace Orvane
