#include "profiles/CryptFile.h"

#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/crypto.h"
#include "profiles/CatalogueMaker.h"

namespace fs = std::filesystem;
namespace pc = platform::crypto;

namespace {

std::vector<std::uint8_t> readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, std::span<const std::uint8_t> b)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::vector<std::uint8_t> pattern(std::size_t n)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return v;
}

class CryptFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string t = (fs::temp_directory_path() / "cryptfile-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(t.data()));
        dir_ = t;
    }
    void TearDown() override { fs::remove_all(dir_); }

    static const pc::Bytes& privateKey()
    {
        static const pc::Bytes key = pc::generateRsaKeyPair(1024);
        return key;
    }
    static pc::Bytes publicKey() { return pc::RsaPrivateKey::fromBlob(privateKey())->publicBlob(); }

    fs::path dir_;
};

TEST_F(CryptFileTest, StreamSizesRoundTripInMemoryAndToFile)
{
    for (std::size_t size : {0u, 1u, 999u, 1000u, 1001u, 5000u, 1000000u}) {
        SCOPED_TRACE(size);
        const auto plain = pattern(size);
        writeAll(dir_ / "plain", plain);
        CCryptFile crypt;
        const fs::path enc = dir_ / "enc";
        ASSERT_EQ(crypt.EncryptFile(dir_ / "plain", &enc, "DozovarEzuvo"), 0);
        const auto cipher = readAll(enc);
        ASSERT_EQ(cipher.size(), size);

        // The key stream is the one of the pass phrase's derived key, continuous across chunks.
        auto expected = plain;
        pc::Rc4(pc::rc4KeyFromPassPhrase("DozovarEzuvo")).crypt(expected);
        EXPECT_EQ(cipher, expected);

        ASSERT_EQ(crypt.DecryptFile(enc, nullptr, "DozovarEzuvo"), 0);
        std::uint32_t length = 0;
        const auto buffer = crypt.GetBuffer(&length);
        EXPECT_EQ(length, size);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), plain.begin(), plain.end()));
        EXPECT_EQ(crypt.GetBufferCapacity(), (size + 4095) / 4096 * 4096);

        const fs::path dec = dir_ / "dec";
        ASSERT_EQ(crypt.DecryptFile(enc, &dec, "DozovarEzuvo"), 0);
        EXPECT_EQ(readAll(dec), plain);
        EXPECT_TRUE(crypt.GetBuffer().empty());
    }
}

TEST_F(CryptFileTest, FiveThousandBytesEndInAnEightKilobyteBlock)
{
    writeAll(dir_ / "in", pattern(5000));
    CCryptFile crypt;
    ASSERT_EQ(crypt.DecryptFile(dir_ / "in", nullptr, "x"), 0);
    EXPECT_EQ(crypt.GetBuffer().size(), 5000u);
    EXPECT_EQ(crypt.GetBufferCapacity(), 8192u);
    crypt.FreeBuffer();
    std::uint32_t length = 1;
    crypt.GetBuffer(&length);
    EXPECT_EQ(length, 0u);
}

TEST_F(CryptFileTest, DecipheringOverItsOwnInputIsSafe)
{
    const auto plain = pattern(3000);
    writeAll(dir_ / "f", plain);
    CCryptFile crypt;
    const fs::path same = dir_ / "f";
    ASSERT_EQ(crypt.EncryptFile(same, &same, "p"), 0);
    ASSERT_EQ(crypt.DecryptFile(same, &same, "p"), 0);
    EXPECT_EQ(readAll(same), plain);
}

TEST_F(CryptFileTest, KeyBlobAtTheHeadOfTheFile)
{
    const std::uint8_t rc4Key[] = {1, 2, 3, 4, 5};
    std::vector<std::uint8_t> file = {24, 0, 0, 0, pc::kPlainTextKeyBlob, 2, 0, 0, 0x01, 0x68, 0, 0, 16, 0, 0, 0};
    std::vector<std::uint8_t> key16(rc4Key, rc4Key + 5);
    key16.resize(16, 0);
    file.insert(file.end(), key16.begin(), key16.begin() + 8);
    ASSERT_EQ(file.size(), 4u + 12u + 8u); // blob claims 16 key bytes but holds 8: refused
    writeAll(dir_ / "short", file);
    CCryptFile crypt;
    EXPECT_EQ(crypt.DecryptFile(dir_ / "short", nullptr, nullptr), 3);

    file = {28, 0, 0, 0, pc::kPlainTextKeyBlob, 2, 0, 0, 0x01, 0x68, 0, 0, 16, 0, 0, 0};
    file.insert(file.end(), key16.begin(), key16.end());
    auto data = pattern(1500);
    auto cipher = data;
    pc::Rc4(key16).crypt(cipher);
    file.insert(file.end(), cipher.begin(), cipher.end());
    writeAll(dir_ / "keyed", file);
    ASSERT_EQ(crypt.DecryptFile(dir_ / "keyed", nullptr, nullptr), 0);
    EXPECT_TRUE(std::ranges::equal(crypt.GetBuffer(), data));
}

TEST_F(CryptFileTest, ErrorCodes)
{
    writeAll(dir_ / "in", pattern(10));
    CCryptFile none(nullptr, CCryptFile::kBaseProvider, 24, 0);
    EXPECT_FALSE(none.acquired());
    CCryptKey key;
    EXPECT_EQ(none.ImportKey(nullptr, key, publicKey()), 1);
    EXPECT_EQ(none.DecryptFile(dir_ / "in", nullptr, "p"), 1);
    EXPECT_EQ(none.VerifySignature(dir_ / "in", dir_ / "in", nullptr, &key), 1);

    CCryptFile crypt;
    EXPECT_EQ(crypt.DecryptFile(dir_ / "missing", nullptr, "p"), 5);
    const fs::path noFolder = dir_ / "no" / "such" / "out";
    EXPECT_EQ(crypt.DecryptFile(dir_ / "in", &noFolder, "p"), 6);
    const fs::path keyFile = dir_ / "missing.blob";
    EXPECT_EQ(crypt.ImportKey(&keyFile, key, {}), 5);
    const auto blob = publicKey();
    EXPECT_EQ(crypt.ImportKey(nullptr, key, std::span(blob).first(blob.size() - 1)), 3);
    EXPECT_FALSE(key.valid());
    EXPECT_EQ(crypt.lastError(), CCryptFile::kErrorBadData);
    writeAll(dir_ / "key.blob", blob);
    const fs::path good = dir_ / "key.blob";
    EXPECT_EQ(crypt.ImportKey(&good, key, {}), 0);
    EXPECT_TRUE(key.valid());
}

TEST_F(CryptFileTest, SignatureTamperTable)
{
    const auto plain = pattern(2500);
    ASSERT_EQ(MakeCatalogue(plain, privateKey(), dir_ / "sgl.dat", dir_ / "sgl.sig"), 0);
    const auto data = readAll(dir_ / "sgl.dat");
    const auto sig = readAll(dir_ / "sgl.sig");
    ASSERT_EQ(sig.size(), 128u);

    CCryptFile crypt;
    CCryptKey key;
    ASSERT_EQ(crypt.ImportKey(nullptr, key, publicKey()), 0);
    CCryptKey otherKey;
    const auto otherPriv = pc::generateRsaKeyPair(1024);
    ASSERT_EQ(crypt.ImportKey(nullptr, otherKey, pc::RsaPrivateKey::fromBlob(otherPriv)->publicBlob()), 0);

    const auto flip = [](std::vector<std::uint8_t> v, std::size_t at) {
        v[at] ^= 0x01;
        return v;
    };
    auto longSig = sig;
    longSig.resize(2000, 0);
    std::vector<std::uint8_t> sig1024 = sig;
    sig1024.resize(1024, 0);

    const struct {
        const char* what;
        std::vector<std::uint8_t> data, sig;
        const CCryptKey* key;
        int expected;
    } cases[] = {
        {"intact", data, sig, &key, 0},
        {"a data byte flipped", flip(data, 1234), sig, &key, 4},
        {"the last data byte flipped", flip(data, data.size() - 1), sig, &key, 4},
        {"a signature byte flipped", data, flip(sig, 5), &key, 4},
        {"signature one byte short", data, std::vector<std::uint8_t>(sig.begin(), sig.end() - 1), &key, 4},
        {"signature of 2000 bytes", data, longSig, &key, 4},
        {"signature padded to 1024 bytes", data, sig1024, &key, 4},
        {"another key", data, sig, &otherKey, 4},
        {"no key", data, sig, nullptr, 3},
        {"empty signature", data, {}, &key, 4},
    };
    for (const auto& c : cases) {
        writeAll(dir_ / "d", c.data);
        writeAll(dir_ / "s", c.sig);
        EXPECT_EQ(crypt.VerifySignature(dir_ / "d", dir_ / "s", nullptr, c.key), c.expected) << c.what;
        EXPECT_EQ(crypt.VerifySignature(c.data, c.sig, c.key), c.expected) << c.what;
    }
    EXPECT_EQ(crypt.VerifySignature(dir_ / "missing", dir_ / "s", nullptr, &key), 5);
    EXPECT_EQ(crypt.VerifySignature(dir_ / "d", dir_ / "missing", nullptr, &key), 5);
    CCryptKey empty;
    EXPECT_EQ(crypt.VerifySignature(data, sig, &empty), 3);
}

TEST_F(CryptFileTest, MakerRefusesAPublicBlobAsSigningKey)
{
    EXPECT_EQ(MakeCatalogue(pattern(10), publicKey(), dir_ / "a", dir_ / "b"), 3);
    EXPECT_FALSE(fs::exists(dir_ / "a"));
    EXPECT_EQ(MakeCatalogue(pattern(10), privateKey(), dir_ / "no" / "a", dir_ / "b"), 6);
}

} // namespace
