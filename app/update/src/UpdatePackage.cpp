#include "app/UpdatePackage.h"

#include "app/UpdateService.h"
#include "platform/crypto.h"

namespace {

std::uint32_t readLe32(std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void writeLe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

platform::crypto::Md5Digest packageDigest(CPackageKind kind, std::uint32_t version, std::span<const std::uint8_t> file)
{
    const std::string_view tag = PackageKindTag(kind);
    platform::crypto::Md5 md5;
    // The tag with its terminating zero: no tag is the start of another.
    md5.update(std::span(reinterpret_cast<const std::uint8_t*>(tag.data()), tag.size() + 1));
    std::vector<std::uint8_t> le;
    writeLe32(le, version);
    md5.update(le);
    md5.update(file);
    return md5.digest();
}

} // namespace

std::string_view PackageKindTag(CPackageKind kind)
{
    // Each literal ends in a zero the digest includes.
    switch (kind) {
    case CPackageKind::GameList:
        return "Orvane update package: games catalogue";
    case CPackageKind::ViewLibrary:
        return "Orvane update package: game view library";
    case CPackageKind::ViewLibraryInGame:
        return "Orvane update package: game view library in-game module";
    }
    return {};
}

std::optional<std::uint32_t> VerifyPackageFile(CPackageKind kind, std::span<const std::uint8_t> file,
                                               std::span<const std::uint8_t> record,
                                               std::span<const std::uint8_t> publicKeyBlob)
{
    if (record.size() < 4)
        return std::nullopt;
    const std::uint32_t version = readLe32(record);
    const auto key = platform::crypto::RsaPublicKey::fromBlob(publicKeyBlob);
    if (!key || !key->verify(packageDigest(kind, version, file), record.subspan(4)))
        return std::nullopt;
    return version;
}

std::vector<std::uint8_t> SignPackageFile(CPackageKind kind, std::uint32_t version, std::span<const std::uint8_t> file,
                                          std::span<const std::uint8_t> privateKeyBlob)
{
    const auto key = platform::crypto::RsaPrivateKey::fromBlob(privateKeyBlob);
    if (!key)
        return {};
    const auto signature = key->sign(packageDigest(kind, version, file));
    if (signature.empty())
        return {};
    std::vector<std::uint8_t> record;
    writeLe32(record, version);
    record.insert(record.end(), signature.begin(), signature.end());
    return record;
}

int ParsePackage(std::span<const std::uint8_t> data, std::vector<CPackageRecord>& records)
{
    records.clear();
    std::vector<CPackageRecord> found;
    bool formatSeen = false;
    std::size_t at = 0;
    while (at < data.size()) {
        if (data.size() - at < 8)
            return kErrorBadFormat; // header cut short
        const std::uint32_t type = readLe32(data.subspan(at, 4));
        const std::uint32_t length = readLe32(data.subspan(at + 4, 4));
        at += 8;
        if (length > data.size() - at)
            return kErrorBadFormat; // data cut short or a wrong length
        const auto body = data.subspan(at, length);
        at += length;
        if (type == kRecordFormat) {
            if (body.size() < 4 || readLe32(body) != kPackageFormatWord)
                return kErrorBadFormat;
            formatSeen = true;
        }
        found.push_back(CPackageRecord{type, body});
    }
    if (!formatSeen)
        return kErrorBadFormat;
    records = std::move(found);
    return kUpdateOk;
}

std::vector<std::uint8_t> MakePackage(const std::vector<CPackageRecord>& records)
{
    std::vector<std::uint8_t> out;
    writeLe32(out, kRecordFormat);
    writeLe32(out, 4);
    writeLe32(out, kPackageFormatWord);
    for (const auto& record : records) {
        writeLe32(out, record.type);
        writeLe32(out, static_cast<std::uint32_t>(record.data.size()));
        out.insert(out.end(), record.data.begin(), record.data.end());
    }
    return out;
}
