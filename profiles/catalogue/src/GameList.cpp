#include "profiles/GameList.h"

#include <string>
#include <tuple>

#include <xercesc/dom/DOM.hpp>

#include "camera/xml_utils.h"
#include "platform/debug.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"
#include "platform/linked_folder.h"
#include "platform/program_folders.h"
#include "platform/utf.h"
#include "profiles/CryptFile.h"

namespace {

using namespace xercesc;

std::int32_t attributeNumber(std::u16string_view s)
{
    return static_cast<std::int32_t>(platform::leadingDecimal(s));
}

std::u16string attribute(const DOMElement* e, const char16_t* name)
{
    const XMLCh* v = e->getAttribute(name);
    return v ? std::u16string(v) : std::u16string();
}

// The text of the only element of that name below e; false when there is
// not exactly one or it has no text.
bool singleText(const DOMElement* e, const char16_t* name, std::u16string& out)
{
    const DOMNodeList* list = e->getElementsByTagName(name);
    if (!list || list->getLength() != 1)
        return false;
    const DOMNode* child = list->item(0)->getFirstChild();
    if (!child || !child->getNodeValue())
        return false;
    out = child->getNodeValue();
    return true;
}

std::uint32_t hexWord(std::u16string_view s)
{
    std::uint32_t v = 0;
    for (char16_t c : s) {
        std::uint32_t d = 0;
        if (c >= u'0' && c <= u'9')
            d = static_cast<std::uint32_t>(c - u'0');
        else if (c >= u'a' && c <= u'f')
            d = static_cast<std::uint32_t>(c - u'a' + 10);
        else if (c >= u'A' && c <= u'F')
            d = static_cast<std::uint32_t>(c - u'A' + 10);
        v = v << 4 | d;
    }
    return v;
}

std::unique_ptr<CGameInfo> readGame(const DOMElement* e)
{
    auto g = std::make_unique<CGameInfo>();
    const auto text = [&](const char16_t* name, std::u16string& field) {
        if (auto v = attribute(e, name); !v.empty())
            field = std::move(v);
    };
    const auto number = [&](const char16_t* name, std::int32_t& field) {
        if (auto v = attribute(e, name); !v.empty())
            field = attributeNumber(v);
    };
    text(u"Name", g->Name);
    text(u"Exe", g->Exe);
    text(u"Version", g->Version);
    text(u"Url", g->Url);
    number(u"Id", g->Id);
    number(u"ProfileId", g->ProfileId);
    number(u"Category", g->Category);
    number(u"DevType", g->DevType);

    std::u16string value;
    if (singleText(e, u"DefaultProfile", value))
        g->DefaultProfile = value;
    if (singleText(e, u"ApplicationID", value) && value.size() == 16) {
        g->ApplicationID[0] = hexWord(std::u16string_view(value).substr(0, 8));
        g->ApplicationID[1] = hexWord(std::u16string_view(value).substr(8, 8));
    }

    for (auto& limit : g->Limits)
        limit = {-16383.0f, 16383.0f, 0};
    g->Limits[CGameInfo::Yaw].Supported = 1;
    g->Limits[CGameInfo::Pitch].Supported = 1;

    const DOMNodeList* restricts = e->getElementsByTagName(u"Restrict");
    const XMLSize_t restrictCount = restricts ? restricts->getLength() : 0; // walks the tree: once
    for (XMLSize_t i = 0; i < restrictCount; ++i) {
        const auto* r = dynamic_cast<const DOMElement*>(restricts->item(i));
        if (!r)
            continue;
        const auto axisText = attribute(r, u"Axis");
        if (axisText.empty())
            continue;
        const std::int32_t axis = attributeNumber(axisText);
        if (axis < 0 || axis > 5)
            continue;
        CGameAxisLimit& limit = g->Limits[static_cast<std::size_t>(axis)];
        const auto bound = [&](const char16_t* name, float& field) {
            if (auto v = attribute(r, name); !v.empty()) {
                const std::int32_t n = attributeNumber(v);
                if (n > -16383 && n < 16383)
                    field = static_cast<float>(n);
            }
        };
        bound(u"Min", limit.Min);
        bound(u"Max", limit.Max);
        if (auto v = attribute(r, u"Supported"); !v.empty())
            limit.Supported = attributeNumber(v);
    }
    return g;
}

} // namespace

CCatalogueFolders ProgramCatalogueFolders()
{
    const std::optional<platform::ProgramFolders> folders = platform::programFolders();
    std::filesystem::path shipped = platform::resolve(kCatalogueDataFile).parent_path();
    if (shipped.empty())
        shipped = ".";
    return {folders ? folders->work : std::filesystem::path("."), shipped};
}

int CGameList::Load()
{
    return Load(ProgramCatalogueFolders(), BuiltInCatalogueKey(), kCataloguePassPhrase);
}

std::filesystem::path CurrentCatalogueFolder(const std::filesystem::path& folder)
{
    return platform::files::LinkedFolder(folder / kCatalogueUpdateFolder).value_or(folder);
}

int CGameList::Load(const std::filesystem::path& folder, std::span<const std::uint8_t> publicKeyBlob,
                    const char* passPhrase)
{
    return Load(CCatalogueFolders{folder, folder}, publicKeyBlob, passPhrase);
}

int CGameList::Load(const CCatalogueFolders& folders, std::span<const std::uint8_t> publicKeyBlob,
                    const char* passPhrase)
{
    // An installed update first; when it does not load, the catalogue the
    // program came with. The catalogue's lock is held throughout.
    std::lock_guard lock(lock_);
    const auto loaded = [&](const std::filesystem::path& folder) {
        if (platform::debug::enabled())
            platform::debug::output("catalogue: version " + std::to_string(Version) + ", " +
                                    std::to_string(GetSize()) + " games, from " + folder.string());
        return 0;
    };
    if (const auto update = platform::files::LinkedFolder(folders.updates / kCatalogueUpdateFolder)) {
        if (LoadPair(*update, publicKeyBlob, passPhrase) == 0)
            return loaded(*update);
        platform::debug::output("catalogue: the updated catalogue in " + update->string() +
                                " does not load; using the one in " + folders.shipped.string());
    }
    const int r = LoadPair(folders.shipped, publicKeyBlob, passPhrase);
    return r == 0 ? loaded(folders.shipped) : r;
}

int CGameList::LoadPair(const std::filesystem::path& folder, std::span<const std::uint8_t> publicKeyBlob,
                        const char* passPhrase)
{
    // The data file is read once: the bytes that are verified are the
    // bytes that are deciphered, whatever replaces the file meanwhile.
    const auto dataPath = folder / kCatalogueDataFile;
    const auto sigPath = folder / kCatalogueSignatureFile;
    std::vector<std::uint8_t> data, signature;
    {
        std::lock_guard lock(lock_);
        games_.clear();
        Version = 0;
        Developer = 0;
    }
    // A file far larger than any catalogue is refused before it is read
    // (a read error, 2); a missing one is 5, as the cipher object says.
    for (const auto& [path, limit, bytes] : {std::tuple{dataPath, kMaxCatalogueDataBytes, &data},
                                             std::tuple{sigPath, kMaxCatalogueSignatureBytes, &signature}}) {
        std::string error;
        if (!platform::files::ReadFileLimited(path, limit, *bytes, error)) {
            platform::debug::output("catalogue: " + error);
            const std::int64_t size = platform::files::FileSize(path);
            return size > std::int64_t(limit) ? CCryptFile::kReadWrite : CCryptFile::kInputOpen;
        }
    }
    const int r = LoadBytes(data, signature, publicKeyBlob, passPhrase);
    if (r == CCryptFile::kBadSignature)
        platform::debug::output("catalogue: the signature of " + dataPath.string() + " does not verify");
    return r;
}

int CGameList::LoadBytes(std::span<const std::uint8_t> data, std::span<const std::uint8_t> signature,
                         std::span<const std::uint8_t> publicKeyBlob, const char* passPhrase)
{
    std::lock_guard lock(lock_);
    try {
        games_.clear();
        Version = 0;
        Developer = 0;
        CCryptFile crypt(nullptr, CCryptFile::kBaseProvider, CCryptFile::kProvRsaFull, CCryptFile::kCryptVerifyContext);
        CCryptKey key;
        if (const int r = crypt.ImportKey(nullptr, key, publicKeyBlob); r != 0) {
            platform::debug::output("catalogue: the built-in signature key was refused");
            return r;
        }
        if (const int r = crypt.VerifySignature(data, signature, &key); r != 0)
            return r;
        if (const int r = crypt.DecryptBytes(data, passPhrase); r != 0)
            return r;
        key.reset();
        parseLocked(crypt.GetBuffer());
        return 0;
    } catch (...) {
        games_.clear();
        return 2;
    }
}

void CGameList::Parse(std::span<const std::uint8_t> document)
{
    std::lock_guard lock(lock_);
    games_.clear();
    Version = 0;
    Developer = 0;
    parseLocked(document);
}

void CGameList::parseLocked(std::span<const std::uint8_t> document)
{
    // A fatal error ends the parse; the catalogue then stays empty.
    std::u16string error;
    const Orvane::XmlUtils::ParserPtr parser = Orvane::XmlUtils::LoadXmlFromMemory(std::as_bytes(document), error);
    if (!parser) {
        platform::debug::output("catalogue: sgl.dat is not a well-formed document: " +
                                Orvane::XmlUtils::Narrow(error));
        return;
    }
    const DOMDocument* doc = parser->getDocument();
    if (!doc)
        return;
    if (const DOMNodeList* roots = doc->getElementsByTagName(u"Games"); roots && roots->getLength() > 0) {
        if (const auto* root = dynamic_cast<const DOMElement*>(roots->item(0))) {
            if (auto v = attribute(root, u"Version"); !v.empty())
                Version = attributeNumber(v);
            if (auto v = attribute(root, u"Developer"); !v.empty())
                Developer = attributeNumber(v);
        }
    }
    const DOMNodeList* games = doc->getElementsByTagName(u"Game");
    const XMLSize_t count = games ? games->getLength() : 0; // walks the whole tree: once
    for (XMLSize_t i = 0; i < count; ++i)
        if (const auto* e = dynamic_cast<const DOMElement*>(games->item(i)))
            games_.push_back(readGame(e));
}

int CGameList::FindById(std::int32_t id) const
{
    std::lock_guard lock(lock_);
    for (std::size_t i = 0; i < games_.size(); ++i)
        if (games_[i]->Id == id)
            return static_cast<int>(i);
    return -1;
}
