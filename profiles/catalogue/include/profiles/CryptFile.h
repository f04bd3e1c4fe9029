#pragma once
// The catalogue's cipher and signature object: imports a public key from a
// key blob, checks the detached signature of a data file, and deciphers (or
// enciphers) a file with an RC4 key derived from a pass phrase, into memory
// or into another file.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

// A key the object made: an RSA signature key or an RC4 key.
class CCryptKey {
public:
    bool valid() const { return rsa_ != nullptr || !rc4_.empty(); }
    void reset()
    {
        rsa_.reset();
        rc4_.clear();
    }

private:
    friend class CCryptFile;
    std::unique_ptr<platform::crypto::RsaPublicKey> rsa_;
    platform::crypto::Bytes rc4_;
};

class CCryptFile {
public:
    // Result codes.
    static constexpr int kOk = 0;
    static constexpr int kNoProvider = 1;
    static constexpr int kReadWrite = 2;
    static constexpr int kCipherFailed = 3;
    static constexpr int kBadSignature = 4;
    static constexpr int kInputOpen = 5;
    static constexpr int kOutputOpen = 6;

    // Last-error values the object records.
    static constexpr std::uint32_t kErrorOutOfMemory = 14;
    static constexpr std::uint32_t kErrorBadData = 0x80090005;      // NTE_BAD_DATA
    static constexpr std::uint32_t kErrorBadSignature = 0x80090006; // NTE_BAD_SIGNATURE
    static constexpr std::uint32_t kErrorBadKey = 0x80090003;       // NTE_BAD_KEY
    static constexpr std::uint32_t kErrorNoKey = 0x8009000D;        // NTE_NO_KEY
    static constexpr std::uint32_t kErrorBadProviderType = 0x80090017;

    static constexpr std::uint32_t kProvRsaFull = 1;
    static constexpr std::uint32_t kCryptVerifyContext = 0xF0000000;
    static constexpr std::u16string_view kBaseProvider = u"Microsoft Base Cryptographic Provider v1.0";
    // Blobs and signatures longer than this are cut to it.
    static constexpr std::size_t kMaxBlob = 1024;

    // The provider context: only the full RSA provider type is offered;
    // any other leaves the object without a context (every operation then 1).
    explicit CCryptFile(const char16_t* container = nullptr, std::u16string_view provider = kBaseProvider,
                        std::uint32_t providerType = kProvRsaFull, std::uint32_t flags = kCryptVerifyContext);
    CCryptFile(const CCryptFile&) = delete;
    CCryptFile& operator=(const CCryptFile&) = delete;
    ~CCryptFile() = default;

    bool acquired() const { return acquired_; }
    std::uint32_t lastError() const { return lastError_; }

    // Imports a public signature key from the first 1024 bytes of keyFile, or
    // from blob when keyFile is null. 0; 5 when the file cannot be opened;
    // 3 when the blob is not a usable key (the key is then left invalid).
    int ImportKey(const std::filesystem::path* keyFile, CCryptKey& key, std::span<const std::uint8_t> blob = {});

    // Checks the detached signature of a data file (MD5 of the file as stored,
    // PKCS#1 v1.5, at most the first 1024 bytes of the signature file).
    // The description is not used. A null or invalid key never verifies (3).
    int VerifySignature(const std::filesystem::path& data, const std::filesystem::path& signature,
                        const char16_t* description, const CCryptKey* key);
    // The same over bytes already read: 0, 1, 3 or 4.
    int VerifySignature(std::span<const std::uint8_t> data, std::span<const std::uint8_t> signature,
                        const CCryptKey* key);

    // Deciphers input into output (through a temporary file in its folder,
    // renamed over it when complete) or, when output is null, into the buffer.
    // A null pass phrase takes the RC4 key from a plain key blob at the head
    // of the input (32-bit little-endian length, then the blob).
    int DecryptFile(const std::filesystem::path& input, const std::filesystem::path* output, const char* passPhrase);
    // Enciphers the same way (the stream operation with the encipher flag).
    int EncryptFile(const std::filesystem::path& input, const std::filesystem::path* output, const char* passPhrase);
    // Deciphers bytes in memory into the buffer with the pass phrase's key.
    int DecryptBytes(std::span<const std::uint8_t> input, const char* passPhrase);

    // The buffer of the last deciphering into memory.
    std::span<const std::uint8_t> GetBuffer(std::uint32_t* length = nullptr) const;
    // The buffer's block size, grown 4096 bytes at a time.
    std::size_t GetBufferCapacity() const { return capacity_; }
    void FreeBuffer();

private:
    int cryptFile(const std::filesystem::path& input, const std::filesystem::path* output, const char* passPhrase);
    void append(std::span<const std::uint8_t> bytes);

    bool acquired_ = false;
    std::uint32_t lastError_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::size_t capacity_ = 0;
};
