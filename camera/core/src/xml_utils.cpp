#include "camera/xml_utils.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/SAXException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace Orvane {

namespace {

using xercesc::XMLPlatformUtils;

struct PlatformState {
    std::once_flag once;
    bool ok = false;
    std::u16string error;
};

PlatformState& platformState()
{
    static PlatformState state;
    return state;
}

std::u16string toU16(const XMLCh* s) { return s != nullptr ? std::u16string(s) : std::u16string(); }

// The default error handler throws on errors and fatal errors; it keeps no
// state, so one serves every parser.
xercesc::HandlerBase& errorHandler()
{
    static xercesc::HandlerBase handler;
    return handler;
}

xercesc::SecurityManager& securityManager()
{
    static xercesc::SecurityManager manager;
    return manager;
}

XmlUtils::ParserPtr makeParser()
{
    auto parser = std::make_unique<xercesc::XercesDOMParser>();
    parser->setErrorHandler(&errorHandler());
    // Local files only: never fetch a DTD or an external entity, and bound
    // entity expansion.
    parser->setLoadExternalDTD(false);
    parser->setDisableDefaultEntityResolution(true);
    parser->setSecurityManager(&securityManager());
    return parser;
}

template <class ParseFn>
XmlUtils::ParserPtr parseWith(ParseFn&& parse, std::u16string& error)
{
    error.clear();
    if (!XmlUtils::Initialize(&error))
        return nullptr;
    XmlUtils::ParserPtr parser;
    try {
        parser = makeParser();
        parse(*parser);
        return parser;
    } catch (const xercesc::SAXException& e) {
        error = toU16(e.getMessage());
    } catch (const xercesc::XMLException& e) {
        error = toU16(e.getMessage());
    } catch (const xercesc::DOMException& e) {
        error = toU16(e.getMessage());
    } catch (...) {
        error = u"Unexpected Exception";
    }
    if (error.empty())
        error = u"Unexpected Exception";
    return nullptr;
}

// The only node of a one-node list, or null.
const xercesc::DOMNode* singleNode(const xercesc::DOMNodeList* list)
{
    if (list == nullptr || list->getLength() != 1)
        return nullptr;
    return list->item(0);
}

const XMLCh* textOf(const xercesc::DOMNodeList* list)
{
    const xercesc::DOMNode* node = singleNode(list);
    if (node == nullptr)
        return nullptr;
    const xercesc::DOMNode* child = node->getFirstChild();
    if (child == nullptr)
        return nullptr;
    return child->getNodeValue();
}

} // namespace

bool XmlUtils::Initialize(std::u16string* error)
{
    PlatformState& state = platformState();
    std::call_once(state.once, [&state] {
        try {
            XMLPlatformUtils::Initialize();
            state.ok = true;
        } catch (const xercesc::XMLException& e) {
            state.error = toU16(e.getMessage());
        } catch (...) {
            state.error = u"Unexpected Exception";
        }
        if (!state.ok && state.error.empty())
            state.error = u"Unexpected Exception";
    });
    if (!state.ok && error != nullptr)
        *error = state.error;
    return state.ok;
}

XmlUtils::ParserPtr XmlUtils::LoadXml(std::u16string_view path, std::u16string& error)
{
    const std::u16string file(path);
    return parseWith([&](Parser& p) { p.parse(file.c_str()); }, error);
}

XmlUtils::ParserPtr XmlUtils::LoadXml(std::string_view path, std::string& error)
{
    std::u16string wideError;
    ParserPtr parser = LoadXml(Widen(path), wideError);
    error = Narrow(wideError);
    return parser;
}

XmlUtils::ParserPtr XmlUtils::LoadXmlFromMemory(std::span<const std::byte> data, std::u16string& error)
{
    return parseWith(
        [&](Parser& p) {
            xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(data.data()), data.size(),
                                              u"memory", false);
            p.parse(source);
        },
        error);
}

XmlUtils::ParserPtr XmlUtils::LoadXmlFromMemory(std::string_view data, std::string& error)
{
    std::u16string wideError;
    ParserPtr parser = LoadXmlFromMemory(std::as_bytes(std::span<const char>(data.data(), data.size())), wideError);
    error = Narrow(wideError);
    return parser;
}

xercesc::DOMNodeList* XmlUtils::GetElementsByTagName(const xercesc::DOMElement* element, std::u16string_view tag)
{
    if (element == nullptr)
        return nullptr;
    const std::u16string name(tag);
    return element->getElementsByTagName(name.c_str());
}

xercesc::DOMNodeList* XmlUtils::GetElementsByTagName(const xercesc::DOMElement* element, std::string_view tag)
{
    return GetElementsByTagName(element, std::u16string_view(Widen(tag)));
}

std::u16string XmlUtils::GetAttribute(const xercesc::DOMElement* element, std::u16string_view name)
{
    if (element == nullptr)
        return {};
    const std::u16string attribute(name);
    return toU16(element->getAttribute(attribute.c_str()));
}

std::string XmlUtils::GetAttribute(const xercesc::DOMElement* element, std::string_view name)
{
    return Narrow(GetAttribute(element, std::u16string_view(Widen(name))));
}

bool XmlUtils::GetNodeStringValue(const xercesc::DOMNodeList* list, std::u16string& value)
{
    const XMLCh* text = textOf(list);
    if (text == nullptr)
        return false;
    value = text;
    return true;
}

bool XmlUtils::GetNodeStringValue(const xercesc::DOMNodeList* list, std::string& value)
{
    const XMLCh* text = textOf(list);
    value = text != nullptr ? Narrow(text) : std::string();
    return text != nullptr;
}

bool XmlUtils::GetNodeIntValue(const xercesc::DOMNodeList* list, int& value)
{
    const xercesc::DOMNode* node = singleNode(list);
    if (node == nullptr || textOf(list) == nullptr)
        return false;
    return GetNodeIntValue(node->getFirstChild(), value);
}

bool XmlUtils::GetNodeIntValue(const xercesc::DOMNode* node, int& value)
{
    if (node == nullptr)
        return false;
    const XMLCh* text = node->getNodeValue();
    if (text == nullptr)
        return false;
    ParseInt(Narrow(text), value);
    return true;
}

bool XmlUtils::ParseInt(std::string_view text, int& value)
{
    // strtoll with base 0 reads exactly what "%i" reads; the result is cut
    // to int as scanf stores it.
    const std::string s(text);
    const char* begin = s.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 0);
    if (end == begin)
        return false;
    value = static_cast<int>(static_cast<unsigned long long>(v) & 0xFFFFFFFFull);
    return true;
}

std::u16string XmlUtils::Widen(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        char32_t cp = 0xFFFD;
        unsigned char c = *p;
        int extra = 0;
        char32_t minimum = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
            minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
            minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
            minimum = 0x10000;
        } else {
            extra = -1;
        }
        ++p;
        if (extra < 0) {
            cp = 0xFFFD;
        } else if (extra > 0) {
            bool good = end - p >= extra;
            for (int i = 0; good && i < extra; ++i)
                good = (p[i] & 0xC0) == 0x80;
            if (good) {
                for (int i = 0; i < extra; ++i)
                    cp = (cp << 6) | (p[i] & 0x3F);
                p += extra;
                if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                    cp = 0xFFFD;
            } else {
                cp = 0xFFFD;
                while (p < end && (*p & 0xC0) == 0x80)
                    ++p;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string XmlUtils::Narrow(std::u16string_view utf16)
{
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace Orvane
