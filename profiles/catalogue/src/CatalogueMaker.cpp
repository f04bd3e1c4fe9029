#include "profiles/CatalogueMaker.h"

#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/crypto.h"
#include "profiles/CryptFile.h"

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes)
{
    std::filesystem::path folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    std::string temp = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0644) == 0; // mkstemp makes the file private to its owner
    for (std::size_t at = 0; ok && at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0)
            ok = false;
        else
            at += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        std::remove(temp.c_str());
    return ok;
}

int MakeCatalogue(std::span<const std::uint8_t> plainXml, std::span<const std::uint8_t> privateKeyBlob,
                  const std::filesystem::path& dataPath, const std::filesystem::path& signaturePath,
                  const char* passPhrase)
{
    const auto signer = platform::crypto::RsaPrivateKey::fromBlob(privateKeyBlob);
    if (!signer)
        return CCryptFile::kCipherFailed;
    CCryptFile crypt;
    // RC4 enciphers with the same stream operation that deciphers.
    if (const int r = crypt.DecryptBytes(plainXml, passPhrase); r != 0)
        return r;
    const auto data = crypt.GetBuffer();
    const auto signature = signer->sign(platform::crypto::md5(data));
    if (signature.empty())
        return CCryptFile::kCipherFailed;
    if (!WriteFileAtomically(dataPath, data) || !WriteFileAtomically(signaturePath, signature))
        return CCryptFile::kOutputOpen;
    return 0;
}
