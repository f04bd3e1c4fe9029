// mkcatalogue make <games.xml> <private.blob> <sgl.dat> <sgl.sig>
//   enciphers the plain catalogue with the program's pass phrase and signs
//   the enciphered bytes (MD5, PKCS#1 v1.5, byte-reversed signature).
// mkcatalogue genkey <bits> <private.blob> <public.blob>
//   makes a new RSA key pair in the key-blob layout.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "profiles/CatalogueMaker.h"
#include "profiles/GameList.h"

namespace {

bool readAll(const char* path, std::vector<std::uint8_t>& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int usage()
{
    std::fprintf(stderr,
                 "usage: mkcatalogue make <games.xml> <private.blob> <sgl.dat> <sgl.sig>\n"
                 "       mkcatalogue genkey <bits> <private.blob> <public.blob>\n");
    return 64;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6 && argc != 5)
        return usage();
    const std::string_view command = argv[1];
    if (command == "make" && argc == 6) {
        std::vector<std::uint8_t> xml, key;
        if (!readAll(argv[2], xml)) {
            std::fprintf(stderr, "mkcatalogue: cannot read %s\n", argv[2]);
            return 1;
        }
        if (!readAll(argv[3], key)) {
            std::fprintf(stderr, "mkcatalogue: cannot read %s\n", argv[3]);
            return 1;
        }
        // Refuse a source the program could not read: it would ship an empty catalogue.
        CGameList check;
        check.Parse(xml);
        if (check.GetSize() == 0) {
            std::fprintf(stderr, "mkcatalogue: %s holds no games or is not well-formed\n", argv[2]);
            return 1;
        }
        const int r = MakeCatalogue(xml, key, argv[4], argv[5]);
        if (r != 0) {
            std::fprintf(stderr, "mkcatalogue: %s (code %d)\n",
                         r == 3 ? "the key is not a usable private key blob" : "cannot write the output", r);
            return 1;
        }
        std::printf("mkcatalogue: %d games signed into %s and %s\n", check.GetSize(), argv[4], argv[5]);
        return 0;
    }
    if (command == "genkey" && argc == 5) {
        unsigned bits = 0;
        const std::string_view b = argv[2];
        if (std::from_chars(b.data(), b.data() + b.size(), bits).ec != std::errc{})
            return usage();
        const auto priv = platform::crypto::generateRsaKeyPair(bits);
        const auto signer = platform::crypto::RsaPrivateKey::fromBlob(priv);
        if (!signer) {
            std::fprintf(stderr, "mkcatalogue: cannot make a %u-bit key (512..16384, a multiple of 16)\n", bits);
            return 1;
        }
        if (!WriteFileAtomically(argv[3], priv) || !WriteFileAtomically(argv[4], signer->publicBlob())) {
            std::fprintf(stderr, "mkcatalogue: cannot write the key files\n");
            return 1;
        }
        return 0;
    }
    return usage();
}
