#pragma once
// Static helpers over the Xerces-C DOM parser, used by every XML reader of
// the suite. Wide text is UTF-16 (XMLCh is char16_t); narrow text is UTF-8.
//
// Reading a file: LoadXml, take the document element from the parser, fetch
// each wanted element with GetElementsByTagName and read it with
// GetNodeIntValue / GetNodeStringValue, or read GetAttribute. An element
// that occurs more than once reads as missing.
#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace Orvane {

class XmlUtils {
public:
    XmlUtils() = delete;

    using Parser = xercesc::XercesDOMParser;
    using ParserPtr = std::unique_ptr<Parser>;

    // Prepares the parser's platform layer once per process (thread-safe;
    // every other function here calls it). False when it failed.
    static bool Initialize(std::u16string* error = nullptr);

    // Parses the file. Returns the parser, which owns the document, or null
    // with the error text set (the parser's message; "Unexpected Exception"
    // for anything else). External entities and DTDs are not fetched.
    static ParserPtr LoadXml(std::u16string_view path, std::u16string& error);
    static ParserPtr LoadXml(std::string_view path, std::string& error);
    // Parses a document held in memory.
    static ParserPtr LoadXmlFromMemory(std::span<const std::byte> data, std::u16string& error);
    static ParserPtr LoadXmlFromMemory(std::string_view data, std::string& error);

    // The element's descendant elements with that tag name (null for a null element).
    static xercesc::DOMNodeList* GetElementsByTagName(const xercesc::DOMElement* element, std::u16string_view tag);
    static xercesc::DOMNodeList* GetElementsByTagName(const xercesc::DOMElement* element, std::string_view tag);

    // The attribute's value; empty when it is absent.
    static std::u16string GetAttribute(const xercesc::DOMElement* element, std::u16string_view name);
    static std::string GetAttribute(const xercesc::DOMElement* element, std::string_view name);

    // False unless the list holds exactly one node whose first child has a
    // value; then that value (the element's text) and true. The narrow form
    // always assigns its output (empty on failure); the wide form leaves it
    // alone on failure.
    static bool GetNodeStringValue(const xercesc::DOMNodeList* list, std::u16string& value);
    static bool GetNodeStringValue(const xercesc::DOMNodeList* list, std::string& value);

    // Integer text read as C's "%i" does: decimal, 0x hexadecimal, leading 0
    // octal, optional sign, leading blanks skipped. False under the same
    // conditions as GetNodeStringValue. Text that does not begin with a
    // number still gives true but leaves `value` unchanged, so callers keep
    // their defaults.
    static bool GetNodeIntValue(const xercesc::DOMNodeList* list, int& value);
    // The same on one node's own value (false when it has none).
    static bool GetNodeIntValue(const xercesc::DOMNode* node, int& value);

    // Reads "%i" text; false when it does not begin with a number.
    static bool ParseInt(std::string_view text, int& value);

    // UTF-8 <-> UTF-16 conversions at the suite's boundaries (invalid input
    // becomes U+FFFD).
    static std::u16string Widen(std::string_view utf8);
    static std::string Narrow(std::u16string_view utf16);
};

} // namespace Orvane
