// Any bytes as the hot-key XML of a profile: reading never fails outside the
// set, and the set it reads can be written out again.
#include "input/HotKeys.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = [] {
        xercesc::XMLPlatformUtils::Initialize();
        return true;
    }();
    (void)ready;
    static xercesc::SecurityManager security;
    xercesc::XercesDOMParser parser;
    parser.setLoadExternalDTD(false);
    parser.setDisableDefaultEntityResolution(true);
    parser.setSecurityManager(&security);
    xercesc::MemBufInputSource source(data, size, u"hotkeys", false);
    try {
        parser.parse(source);
    } catch (...) {
        return 0;
    }
    const xercesc::DOMDocument* doc = parser.getDocument();
    if (doc == nullptr)
        return 0;
    const xercesc::DOMNodeList* sets = doc->getElementsByTagName(u"HotKeys");
    CHotKeys keys;
    keys.ReadXml(sets ? dynamic_cast<const xercesc::DOMElement*>(sets->item(0)) : nullptr);
    std::u16string out;
    keys.WriteXml(out, u"  ");
    if (out.empty())
        std::abort();
    return 0;
}
