#pragma once
// The cryptographic services the catalogue needs: MD5, RC4, and RSA
// PKCS#1 v1.5 signatures over an MD5 digest. Keys travel as CryptoAPI
// blobs (little-endian numbers) and signatures as byte-reversed RSA output,
// so that files made for the original platform's layout read the same.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace platform::crypto {

using Bytes = std::vector<std::uint8_t>;
using Md5Digest = std::array<std::uint8_t, 16>;

// Incremental MD5.
class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;
    void update(std::span<const std::uint8_t> data);
    Md5Digest digest(); // resets for reuse
private:
    struct State;
    std::unique_ptr<State> state_;
};

Md5Digest md5(std::span<const std::uint8_t> data);

// An RC4 key stream; crypt() enciphers and deciphers in place, the stream
// continuing across calls.
class Rc4 {
public:
    explicit Rc4(std::span<const std::uint8_t> key); // 1..256 bytes
    ~Rc4();
    Rc4(const Rc4&) = delete;
    Rc4& operator=(const Rc4&) = delete;
    void crypt(std::span<std::uint8_t> data);
private:
    struct State;
    std::unique_ptr<State> state_;
};

// The RC4 key the base provider derives from an MD5 hash with default
// length and salt: a 40-bit key padded with an 11-byte zero salt.
Bytes rc4KeyFromMd5(const Md5Digest& digest);
// The same from a pass phrase (its bytes, no terminator).
Bytes rc4KeyFromPassPhrase(std::string_view passPhrase);

// Blob constants of the layout.
inline constexpr std::uint8_t kPublicKeyBlob = 0x06;
inline constexpr std::uint8_t kPrivateKeyBlob = 0x07;
inline constexpr std::uint8_t kPlainTextKeyBlob = 0x08;
inline constexpr std::uint8_t kBlobVersion = 0x02;
inline constexpr std::uint32_t kAlgRsaSign = 0x00002400;
inline constexpr std::uint32_t kAlgRc4 = 0x00006801;
inline constexpr std::uint32_t kMagicRsa1 = 0x31415352; // "RSA1"
inline constexpr std::uint32_t kMagicRsa2 = 0x32415352; // "RSA2"

// An RSA public key read from a PUBLICKEYBLOB.
class RsaPublicKey {
public:
    ~RsaPublicKey();
    RsaPublicKey(const RsaPublicKey&) = delete;
    RsaPublicKey& operator=(const RsaPublicKey&) = delete;

    // Null when the blob is short, of another type or algorithm, or its
    // numbers are unusable.
    static std::unique_ptr<RsaPublicKey> fromBlob(std::span<const std::uint8_t> blob);

    std::size_t modulusBytes() const;
    // True only when the byte-reversed signature, exactly modulusBytes()
    // long, is a valid PKCS#1 v1.5 MD5 signature of digest.
    bool verify(const Md5Digest& digest, std::span<const std::uint8_t> signature) const;

private:
    RsaPublicKey();
    struct State;
    std::unique_ptr<State> state_;
};

// An RSA private key read from a PRIVATEKEYBLOB (for signing tools and tests).
class RsaPrivateKey {
public:
    ~RsaPrivateKey();
    RsaPrivateKey(const RsaPrivateKey&) = delete;
    RsaPrivateKey& operator=(const RsaPrivateKey&) = delete;

    static std::unique_ptr<RsaPrivateKey> fromBlob(std::span<const std::uint8_t> blob);

    std::size_t modulusBytes() const;
    // Byte-reversed PKCS#1 v1.5 signature of an MD5 digest; empty on failure.
    Bytes sign(const Md5Digest& digest) const;
    // The matching PUBLICKEYBLOB.
    Bytes publicBlob() const;

private:
    RsaPrivateKey();
    struct State;
    std::unique_ptr<State> state_;
};

// A fresh key pair from the system's random source; returns the
// PRIVATEKEYBLOB (empty on failure). bits: 512..16384, a multiple of 16.
Bytes generateRsaKeyPair(unsigned bits, std::uint32_t publicExponent = 65537);

} // namespace platform::crypto
