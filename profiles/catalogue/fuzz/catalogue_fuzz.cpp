// Any bytes through each layer of the games catalogue, chosen by the first
// byte: the XML inside, the cipher and then the XML, the signature key blob,
// the signature check, and the file decipher with its key blob at the head.
#include "profiles/CryptFile.h"
#include "profiles/GameList.h"

#include "testing/fuzz_file.h"

#include <cstdlib>
#include <filesystem>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    CCryptFile crypt;
    switch (data[0] % 5) {
    case 0: {
        CGameList games;
        games.Parse(rest);
        if (games.GetSize() > 0)
            (void)games.FindById(games[0].Id);
        break;
    }
    case 1:
        if (crypt.DecryptBytes(rest, kCataloguePassPhrase) == 0) {
            CGameList games;
            games.Parse(crypt.GetBuffer());
        }
        break;
    case 2: {
        CCryptKey key;
        if (crypt.ImportKey(nullptr, key, rest) == 0) {
            const std::uint8_t text[] = {'s', 'g', 'l'};
            (void)crypt.VerifySignature(text, rest, &key);
        }
        break;
    }
    case 3: {
        CCryptKey key;
        if (crypt.ImportKey(nullptr, key, BuiltInCatalogueKey()) != 0)
            std::abort();
        const std::size_t cut = rest.size() / 2;
        (void)crypt.VerifySignature(rest.subspan(cut), rest.first(cut), &key);
        break;
    }
    default: {
        static testing_support::FuzzFile file;
        file.Write(rest.data(), rest.size());
        const std::filesystem::path input(file.Path());
        (void)crypt.DecryptFile(input, nullptr, nullptr);
        break;
    }
    }
    return 0;
}
