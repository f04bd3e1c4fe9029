#pragma once
// Update packages for the update tests: files, keys and a catalogue
// package made with the real catalogue maker.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/UpdatePackage.h"
#include "platform/crypto.h"
#include "profiles/CatalogueMaker.h"
#include "testing/temp_dir.h"

namespace crypto = platform::crypto;

namespace {

inline std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline std::span<const std::uint8_t> bytes(const std::string& s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

inline const crypto::Bytes& privateKey()
{
    static const crypto::Bytes key = crypto::generateRsaKeyPair(1024);
    return key;
}

inline crypto::Bytes publicKey() { return crypto::RsaPrivateKey::fromBlob(privateKey())->publicBlob(); }

inline crypto::Bytes sign(std::span<const std::uint8_t> data, const crypto::Bytes& key = privateKey())
{
    return crypto::RsaPrivateKey::fromBlob(key)->sign(crypto::md5(data));
}

struct CataloguePackage {
    std::vector<std::uint8_t> package;
    std::vector<std::uint8_t> data, signature, packageSignature;
};

// A catalogue package of `version` (inside the catalogue), signed as a
// catalogue package of `signedVersion` (the version inside unless given).
inline CataloguePackage MakeCataloguePackage(int version, const crypto::Bytes& key = privateKey(),
                                             std::optional<std::uint32_t> signedVersion = std::nullopt)
{
    testing_support::TempDir work("update-catalogue");
    const std::string xml =
        "<Games Version=\"" + std::to_string(version) + "\"><Game Name=\"Test Game\" Id=\"7\" ProfileId=\"7\"/></Games>";
    EXPECT_EQ(MakeCatalogue(bytes(xml), key, work.file("sgl.dat"), work.file("sgl.sig")), 0);
    CataloguePackage out;
    out.data = readFile(work.file("sgl.dat"));
    out.signature = readFile(work.file("sgl.sig"));
    out.packageSignature = SignPackageFile(CPackageKind::GameList,
                                           signedVersion.value_or(static_cast<std::uint32_t>(version)), out.data, key);
    out.package = MakePackage({{kRecordGameList, out.data},
                               {kRecordGameListSignature, out.signature},
                               {kRecordGameListPackageSignature, out.packageSignature}});
    return out;
}

} // namespace
