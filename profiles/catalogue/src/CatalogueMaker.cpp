#include "profiles/CatalogueMaker.h"

#include <string>
#include <string_view>

#include "platform/crypto.h"
#include "platform/file_replace.h"
#include "profiles/CryptFile.h"

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes)
{
    return platform::files::ReplaceFile(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
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
