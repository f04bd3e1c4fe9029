#include "platform/crypto.h"

#include <string>

#include <gtest/gtest.h>

namespace pc = platform::crypto;

namespace {

std::string hex(std::span<const std::uint8_t> b)
{
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (auto c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

std::span<const std::uint8_t> bytes(std::string_view s)
{
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Expected values computed once with Python's hashlib and the openssl
// command line (enc -rc4 with the legacy provider; genrsa, dgst -md5 -sign).
TEST(Md5, KnownAnswers)
{
    EXPECT_EQ(hex(pc::md5(bytes("abc"))), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hex(pc::md5(bytes("DozovarEzuvo"))), "6c36c781f0c9b57820d29eab0769d63b");
    pc::Md5 h; // chunked feeding gives the same digest
    h.update(bytes("Dozo"));
    h.update(bytes("varEzuvo"));
    EXPECT_EQ(hex(h.digest()), "6c36c781f0c9b57820d29eab0769d63b");
}

TEST(Rc4, KeyFromHashKnownAnswers)
{
    std::vector<std::uint8_t> data(32);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);

    // The base provider's derivation: 5 hash bytes and an 11-byte zero salt.
    pc::Md5Digest digest{0x73, 0x40, 0xe6, 0xe2, 0x74};
    auto key = pc::rc4KeyFromMd5(digest);
    EXPECT_EQ(hex(key), "7340e6e2740000000000000000000000");
    auto a = data;
    pc::Rc4(key).crypt(a);
    EXPECT_EQ(hex(a), "2659de2444fa369c110cbb9db6a2bd24042ee3ba7276f3278dd5b42f56cff8c9");

    auto b = data;
    pc::Rc4 stream(pc::rc4KeyFromPassPhrase("DozovarEzuvo"));
    stream.crypt(std::span(b).first(7)); // the stream continues across calls
    stream.crypt(std::span(b).subspan(7));
    EXPECT_EQ(hex(b), "40ad5963d111d0465c5f5b45a92e8066bd1297a230f5097045e39a4b3b3129d4");
    pc::Rc4(pc::rc4KeyFromPassPhrase("DozovarEzuvo")).crypt(b);
    EXPECT_EQ(b, data);
}

const std::uint8_t kOpenSslBlob[] = {0x06,0x02,0x00,0x00,0x00,0x24,0x00,0x00,0x52,0x53,0x41,0x31,0x00,0x04,0x00,0x00,0x01,0x00,0x01,0x00,0xc5,0x16,0x58,0xfd,0xcc,0x69,0xb3,0x8d,0x75,0x6c,0x1d,0xf2,0xb4,0x73,0x97,0x72,0x4d,0xf5,0x96,0xa7,0xd3,0x61,0xd1,0x46,0xea,0x0d,0x7c,0x25,0x30,0x5c,0xce,0x4c,0xa0,0x1a,0xe2,0xcf,0x12,0x9c,0x67,0x5a,0x06,0x18,0xfc,0x42,0x81,0xc3,0x83,0xfd,0x2d,0x2f,0x1f,0x88,0xcb,0xe6,0xf5,0x93,0x42,0x6e,0x26,0x6e,0x1d,0xf8,0xf3,0xb2,0x80,0x2f,0x62,0x49,0x33,0xcb,0xdd,0xaf,0x3f,0xaa,0x36,0x4c,0x17,0x0e,0x7f,0x95,0x73,0x3a,0xd8,0x7e,0x82,0xe0,0x7e,0xa2,0x7c,0xcc,0x8e,0xfc,0x59,0xd8,0xb0,0xfb,0x47,0xf0,0x2b,0x7d,0xe0,0x42,0xf9,0xd3,0xda,0x68,0x36,0x5c,0x43,0xcc,0x87,0xf2,0x50,0x85,0x3d,0xdc,0xd7,0xf1,0x6e,0xa5,0x57,0x4d,0x6b,0xd8,0xc9,0xfd,0xe6,0xeb};
const std::uint8_t kOpenSslSignature[] = {0x16,0xb7,0x00,0x70,0xd1,0x7a,0x3a,0x87,0x78,0xdc,0xf7,0x80,0xb9,0x8c,0xaf,0x83,0xad,0x99,0xab,0x8f,0x90,0xd1,0xf6,0xfe,0x76,0xbf,0x28,0x65,0x84,0xc4,0x8d,0xe1,0x1d,0xa7,0x7a,0x92,0xa6,0x2d,0xad,0x0e,0x31,0xe0,0x56,0xc0,0xd4,0xc8,0x3b,0xab,0xba,0xc4,0xf9,0x26,0x94,0xd6,0xce,0x38,0x9f,0x4b,0x03,0x1c,0x2b,0xed,0xa3,0xde,0x54,0x12,0x6e,0xec,0xd6,0x17,0x83,0xc2,0x83,0x27,0x94,0x9d,0x9c,0x3f,0x12,0x58,0x9e,0xc9,0x2c,0xf7,0x1c,0xbc,0xae,0xac,0xab,0x07,0x7c,0xe2,0x07,0xf8,0xe0,0x0f,0x7f,0xc1,0x03,0x90,0x96,0x6f,0xb4,0xb3,0xa2,0x7b,0x0f,0x44,0xe6,0x57,0xf3,0x09,0xe5,0x3a,0xd5,0x2a,0xec,0x96,0x2a,0x1d,0x1f,0x34,0x13,0x36,0x37,0x7e,0xee,0xa9};
const std::string_view kSignedMessage = "The catalogue signs the enciphered file.";

TEST(Rsa, VerifiesAnOpenSslSignatureInBlobLayout)
{
    auto key = pc::RsaPublicKey::fromBlob(kOpenSslBlob);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->modulusBytes(), 128u);
    const auto digest = pc::md5(bytes(kSignedMessage));
    EXPECT_TRUE(key->verify(digest, kOpenSslSignature));

    auto other = digest;
    other[0] ^= 1;
    EXPECT_FALSE(key->verify(other, kOpenSslSignature));
    std::vector<std::uint8_t> sig(std::begin(kOpenSslSignature), std::end(kOpenSslSignature));
    sig[50] ^= 0x80;
    EXPECT_FALSE(key->verify(digest, sig));
    sig = {std::begin(kOpenSslSignature), std::end(kOpenSslSignature) - 1};
    EXPECT_FALSE(key->verify(digest, sig));
    sig.assign(std::rbegin(kOpenSslSignature), std::rend(kOpenSslSignature)); // wrong byte order
    EXPECT_FALSE(key->verify(digest, sig));
}

TEST(Rsa, RejectsMalformedBlobs)
{
    const std::vector<std::uint8_t> good(std::begin(kOpenSslBlob), std::end(kOpenSslBlob));
    const auto with = [&](std::size_t at, std::uint8_t v) {
        auto b = good;
        b[at] = v;
        return b;
    };
    const std::vector<std::vector<std::uint8_t>> bad = {
        {},
        std::vector<std::uint8_t>(good.begin(), good.begin() + 19),
        std::vector<std::uint8_t>(good.begin(), good.end() - 1), // short modulus
        with(0, 0x07),                                           // not a public key blob
        with(1, 0x01),                                           // version
        with(5, 0xA4),                                           // key exchange algorithm
        with(8, 'X'),                                            // magic
        with(12, 0x01),                                          // odd bit length
        with(16, 0x00),                                          // exponent 65536
    };
    for (std::size_t i = 0; i < bad.size(); ++i)
        EXPECT_FALSE(pc::RsaPublicKey::fromBlob(bad[i])) << i;
}

TEST(Rsa, GeneratedPairsSignAndVerifyAtAnySize)
{
    for (unsigned bits : {512u, 1024u, 2048u}) {
        const auto priv = pc::generateRsaKeyPair(bits);
        ASSERT_EQ(priv.size(), 20 + bits / 8 * 2 + bits / 16 * 5) << bits;
        auto signer = pc::RsaPrivateKey::fromBlob(priv);
        ASSERT_TRUE(signer);
        const auto pub = signer->publicBlob();
        EXPECT_EQ(pub.size(), 20 + bits / 8);
        auto verifier = pc::RsaPublicKey::fromBlob(pub);
        ASSERT_TRUE(verifier);
        const auto digest = pc::md5(bytes(kSignedMessage));
        const auto sig = signer->sign(digest);
        EXPECT_EQ(sig.size(), bits / 8);
        EXPECT_TRUE(verifier->verify(digest, sig));
        EXPECT_FALSE(pc::RsaPublicKey::fromBlob(kOpenSslBlob)->verify(digest, sig));
    }
    EXPECT_TRUE(pc::generateRsaKeyPair(100).empty());
}

} // namespace
