#include "profiles/CryptFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pc = platform::crypto;

namespace {

constexpr std::size_t kChunk = 1000;
constexpr std::size_t kGrowth = 4096;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openRead(const std::filesystem::path& p)
{
    return File(std::fopen(p.c_str(), "rb"));
}

// Reads up to n bytes; false on a read error.
bool readUpTo(std::FILE* f, std::uint8_t* dst, std::size_t n, std::size_t& got)
{
    got = std::fread(dst, 1, n, f);
    return !std::ferror(f);
}

// An output file written under a temporary name in the same folder and
// renamed over the target only once it is complete and flushed.
class TempOutput {
public:
    explicit TempOutput(const std::filesystem::path& target) : target_(target)
    {
        std::filesystem::path folder = target.parent_path();
        if (folder.empty())
            folder = ".";
        std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
        const int fd = mkstemp(pattern.data());
        if (fd < 0)
            return;
        ::fchmod(fd, 0644); // mkstemp makes the file private to its owner
        temp_ = pattern;
        file_.reset(fdopen(fd, "wb"));
        if (!file_) {
            ::close(fd);
            std::filesystem::remove(temp_);
            temp_.clear();
        }
    }
    ~TempOutput()
    {
        file_.reset();
        if (!temp_.empty()) {
            std::error_code ec;
            std::filesystem::remove(temp_, ec);
        }
    }
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    bool open() const { return file_ != nullptr; }
    bool write(std::span<const std::uint8_t> b)
    {
        return std::fwrite(b.data(), 1, b.size(), file_.get()) == b.size();
    }
    bool commit()
    {
        if (std::fflush(file_.get()) != 0 || ::fsync(fileno(file_.get())) != 0)
            return false;
        if (std::fclose(file_.release()) != 0)
            return false;
        if (std::rename(temp_.c_str(), target_.c_str()) != 0)
            return false;
        temp_.clear();
        return true;
    }

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    File file_;
};

} // namespace

CCryptFile::CCryptFile(const char16_t*, std::u16string_view, std::uint32_t providerType, std::uint32_t)
{
    // The nettle services need no container; the full RSA provider type is
    // the one whose algorithms (MD5, RC4, RSA signatures) we offer.
    acquired_ = providerType == kProvRsaFull;
    if (!acquired_)
        lastError_ = kErrorBadProviderType;
}

int CCryptFile::ImportKey(const std::filesystem::path* keyFile, CCryptKey& key, std::span<const std::uint8_t> blob)
{
    key.reset();
    if (!acquired_)
        return kNoProvider;
    std::vector<std::uint8_t> fromFile;
    if (keyFile) {
        File f = openRead(*keyFile);
        if (!f) {
            lastError_ = static_cast<std::uint32_t>(errno);
            return kInputOpen;
        }
        fromFile.resize(kMaxBlob);
        std::size_t got = 0;
        if (!readUpTo(f.get(), fromFile.data(), kMaxBlob, got)) {
            lastError_ = static_cast<std::uint32_t>(EIO);
            return kReadWrite;
        }
        fromFile.resize(got);
        blob = fromFile;
    }
    if (blob.size() > kMaxBlob)
        blob = blob.first(kMaxBlob);
    key.rsa_ = pc::RsaPublicKey::fromBlob(blob);
    if (!key.rsa_) {
        lastError_ = kErrorBadData;
        return kCipherFailed;
    }
    return kOk;
}

int CCryptFile::VerifySignature(std::span<const std::uint8_t> data, std::span<const std::uint8_t> signature,
                                const CCryptKey* key)
{
    if (!acquired_)
        return kNoProvider;
    pc::Md5 hash;
    for (std::size_t at = 0; at < data.size(); at += kChunk)
        hash.update(data.subspan(at, std::min(kChunk, data.size() - at)));
    if (signature.size() > kMaxBlob)
        signature = signature.first(kMaxBlob);
    // A verify-only context holds no signature key of its own.
    if (!key || !key->rsa_) {
        lastError_ = key ? kErrorBadKey : kErrorNoKey;
        return kCipherFailed;
    }
    if (!key->rsa_->verify(hash.digest(), signature)) {
        lastError_ = kErrorBadSignature;
        return kBadSignature;
    }
    return kOk;
}

int CCryptFile::VerifySignature(const std::filesystem::path& data, const std::filesystem::path& signature,
                                const char16_t*, const CCryptKey* key)
{
    if (!acquired_)
        return kNoProvider;
    File f = openRead(data);
    if (!f) {
        lastError_ = static_cast<std::uint32_t>(errno);
        return kInputOpen;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[kChunk];
    for (;;) {
        std::size_t got = 0;
        if (!readUpTo(f.get(), chunk, kChunk, got)) {
            lastError_ = static_cast<std::uint32_t>(EIO);
            return kReadWrite;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < kChunk)
            break;
    }
    File s = openRead(signature);
    if (!s) {
        lastError_ = static_cast<std::uint32_t>(errno);
        return kInputOpen;
    }
    std::vector<std::uint8_t> sig(kMaxBlob);
    std::size_t got = 0;
    if (!readUpTo(s.get(), sig.data(), kMaxBlob, got)) {
        lastError_ = static_cast<std::uint32_t>(EIO);
        return kReadWrite;
    }
    sig.resize(got);
    return VerifySignature(bytes, sig, key);
}

void CCryptFile::append(std::span<const std::uint8_t> bytes)
{
    if (buffer_.size() + bytes.size() > capacity_) {
        while (buffer_.size() + bytes.size() > capacity_)
            capacity_ += kGrowth;
        buffer_.reserve(capacity_);
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

int CCryptFile::DecryptBytes(std::span<const std::uint8_t> input, const char* passPhrase)
{
    if (!acquired_)
        return kNoProvider;
    FreeBuffer();
    lastError_ = 0;
    if (!passPhrase) {
        lastError_ = kErrorNoKey;
        return kCipherFailed;
    }
    pc::Rc4 rc4(pc::rc4KeyFromPassPhrase(passPhrase));
    std::uint8_t chunk[kChunk];
    try {
        for (std::size_t at = 0; at < input.size(); at += kChunk) {
            const std::size_t n = std::min(kChunk, input.size() - at);
            std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at), n, chunk);
            rc4.crypt({chunk, n});
            append({chunk, n});
        }
    } catch (const std::bad_alloc&) {
        lastError_ = kErrorOutOfMemory;
        return kReadWrite;
    }
    return kOk;
}

int CCryptFile::cryptFile(const std::filesystem::path& input, const std::filesystem::path* output,
                          const char* passPhrase)
{
    if (!acquired_)
        return kNoProvider;
    FreeBuffer();
    lastError_ = 0;

    File in = openRead(input);
    if (!in) {
        lastError_ = static_cast<std::uint32_t>(errno);
        return kInputOpen;
    }
    std::unique_ptr<TempOutput> out;
    if (output) {
        out = std::make_unique<TempOutput>(*output);
        if (!out->open()) {
            lastError_ = static_cast<std::uint32_t>(errno);
            return kOutputOpen;
        }
    }

    pc::Bytes key;
    if (passPhrase) {
        key = pc::rc4KeyFromPassPhrase(passPhrase);
    } else {
        // A plain RC4 key blob at the head of the file: header, key size, key.
        std::uint8_t head[4];
        std::size_t got = 0;
        std::vector<std::uint8_t> blob;
        if (readUpTo(in.get(), head, 4, got) && got == 4) {
            const std::uint32_t length = std::uint32_t{head[0]} | std::uint32_t{head[1]} << 8 |
                                         std::uint32_t{head[2]} << 16 | std::uint32_t{head[3]} << 24;
            if (length <= kMaxBlob) {
                blob.resize(length);
                if (!readUpTo(in.get(), blob.data(), length, got) || got != length)
                    blob.clear();
            }
        }
        if (blob.size() >= 12 && blob[0] == pc::kPlainTextKeyBlob && blob[1] == pc::kBlobVersion &&
            (blob[4] | blob[5] << 8 | blob[6] << 16 | blob[7] << 24) == static_cast<int>(pc::kAlgRc4)) {
            const std::size_t size = blob[8] | blob[9] << 8 | blob[10] << 16 | std::size_t{blob[11]} << 24;
            if (size >= 1 && size <= 256 && blob.size() >= 12 + size)
                key.assign(blob.begin() + 12, blob.begin() + 12 + static_cast<std::ptrdiff_t>(size));
        }
        if (key.empty()) {
            lastError_ = kErrorBadData;
            return kCipherFailed;
        }
    }

    // The stream: 1000-byte chunks, one continuous key stream.
    pc::Rc4 rc4(key);
    std::uint8_t chunk[kChunk + 1];
    try {
        for (;;) {
            std::size_t got = 0;
            if (!readUpTo(in.get(), chunk, kChunk, got)) {
                lastError_ = static_cast<std::uint32_t>(EIO);
                return kReadWrite;
            }
            rc4.crypt({chunk, got});
            if (out) {
                if (!out->write({chunk, got})) {
                    lastError_ = static_cast<std::uint32_t>(errno);
                    return kReadWrite;
                }
            } else {
                append({chunk, got});
            }
            if (got < kChunk)
                break;
        }
    } catch (const std::bad_alloc&) {
        lastError_ = kErrorOutOfMemory;
        return kReadWrite;
    }
    in.reset();
    if (out && !out->commit()) {
        lastError_ = static_cast<std::uint32_t>(errno);
        return kReadWrite;
    }
    return kOk;
}

int CCryptFile::DecryptFile(const std::filesystem::path& input, const std::filesystem::path* output,
                            const char* passPhrase)
{
    return cryptFile(input, output, passPhrase);
}

int CCryptFile::EncryptFile(const std::filesystem::path& input, const std::filesystem::path* output,
                            const char* passPhrase)
{
    return cryptFile(input, output, passPhrase); // RC4 enciphers as it deciphers
}

std::span<const std::uint8_t> CCryptFile::GetBuffer(std::uint32_t* length) const
{
    if (length)
        *length = static_cast<std::uint32_t>(buffer_.size());
    return buffer_;
}

void CCryptFile::FreeBuffer()
{
    buffer_.clear();
    buffer_.shrink_to_fit();
    capacity_ = 0;
}
