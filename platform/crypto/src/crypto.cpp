#include "platform/crypto.h"

#include <algorithm>
#include <cstring>

#include <sys/random.h>

#include <gmp.h>
#include <nettle/arcfour.h>
#include <nettle/md5.h>
#include <nettle/rsa.h>

namespace platform::crypto {

namespace {

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at)
{
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

void putLe32(Bytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Little-endian bytes to a number.
void importLe(mpz_t z, std::span<const std::uint8_t> b)
{
    mpz_import(z, b.size(), -1, 1, 0, 0, b.data());
}

// A number to exactly n little-endian bytes (zero-padded).
void exportLe(Bytes& out, const mpz_t z, std::size_t n)
{
    Bytes tmp(std::max<std::size_t>(n, (mpz_sizeinbase(z, 2) + 7) / 8), 0);
    std::size_t count = 0;
    mpz_export(tmp.data(), &count, -1, 1, 0, 0, z);
    tmp.resize(n);
    out.insert(out.end(), tmp.begin(), tmp.end());
}

void systemRandom(void*, std::size_t length, std::uint8_t* dst)
{
    while (length > 0) {
        const ssize_t got = getrandom(dst, length, 0);
        if (got <= 0)
            continue; // interrupted; getrandom blocks only until the pool is initialised
        dst += got;
        length -= static_cast<std::size_t>(got);
    }
}

// Blob header: type, version, reserved word, algorithm.
bool headerIs(std::span<const std::uint8_t> blob, std::uint8_t type, std::uint32_t magic, unsigned& bits,
              std::uint32_t& exponent)
{
    if (blob.size() < 20 || blob[0] != type || blob[1] != kBlobVersion || le32(blob, 4) != kAlgRsaSign ||
        le32(blob, 8) != magic)
        return false;
    bits = le32(blob, 12);
    exponent = le32(blob, 16);
    return bits >= 16 && bits % 16 == 0 && bits <= 16384 && exponent >= 3 && exponent % 2 == 1;
}

} // namespace

struct Md5::State {
    md5_ctx ctx;
};

Md5::Md5() : state_(std::make_unique<State>())
{
    md5_init(&state_->ctx);
}
Md5::~Md5() = default;

void Md5::update(std::span<const std::uint8_t> data)
{
    md5_update(&state_->ctx, data.size(), data.data());
}

Md5Digest Md5::digest()
{
    Md5Digest d{};
    md5_digest(&state_->ctx, d.size(), d.data());
    return d;
}

Md5Digest md5(std::span<const std::uint8_t> data)
{
    Md5 h;
    h.update(data);
    return h.digest();
}

struct Rc4::State {
    arcfour_ctx ctx;
};

Rc4::Rc4(std::span<const std::uint8_t> key) : state_(std::make_unique<State>())
{
    arcfour_set_key(&state_->ctx, std::clamp<std::size_t>(key.size(), ARCFOUR_MIN_KEY_SIZE, ARCFOUR_MAX_KEY_SIZE),
                    key.data());
}
Rc4::~Rc4() = default;

void Rc4::crypt(std::span<std::uint8_t> data)
{
    arcfour_crypt(&state_->ctx, data.size(), data.data(), data.data());
}

Bytes rc4KeyFromMd5(const Md5Digest& digest)
{
    Bytes key(16, 0);
    std::copy_n(digest.begin(), 5, key.begin());
    return key;
}

Bytes rc4KeyFromPassPhrase(std::string_view passPhrase)
{
    return rc4KeyFromMd5(md5({reinterpret_cast<const std::uint8_t*>(passPhrase.data()), passPhrase.size()}));
}

struct RsaPublicKey::State {
    rsa_public_key key;
    State() { rsa_public_key_init(&key); }
    ~State() { rsa_public_key_clear(&key); }
};

RsaPublicKey::RsaPublicKey() : state_(std::make_unique<State>()) {}
RsaPublicKey::~RsaPublicKey() = default;

std::unique_ptr<RsaPublicKey> RsaPublicKey::fromBlob(std::span<const std::uint8_t> blob)
{
    unsigned bits = 0;
    std::uint32_t exponent = 0;
    if (!headerIs(blob, kPublicKeyBlob, kMagicRsa1, bits, exponent) || blob.size() < 20 + bits / 8)
        return nullptr;
    std::unique_ptr<RsaPublicKey> k(new RsaPublicKey());
    importLe(k->state_->key.n, blob.subspan(20, bits / 8));
    mpz_set_ui(k->state_->key.e, exponent);
    if (!rsa_public_key_prepare(&k->state_->key))
        return nullptr;
    return k;
}

std::size_t RsaPublicKey::modulusBytes() const
{
    return state_->key.size;
}

bool RsaPublicKey::verify(const Md5Digest& digest, std::span<const std::uint8_t> signature) const
{
    if (signature.size() != modulusBytes())
        return false;
    mpz_t s;
    mpz_init(s);
    importLe(s, signature);
    const bool ok = rsa_md5_verify_digest(&state_->key, digest.data(), s) == 1;
    mpz_clear(s);
    return ok;
}

struct RsaPrivateKey::State {
    rsa_public_key pub;
    rsa_private_key key;
    unsigned bits = 0;
    State()
    {
        rsa_public_key_init(&pub);
        rsa_private_key_init(&key);
    }
    ~State()
    {
        rsa_private_key_clear(&key);
        rsa_public_key_clear(&pub);
    }
};

RsaPrivateKey::RsaPrivateKey() : state_(std::make_unique<State>()) {}
RsaPrivateKey::~RsaPrivateKey() = default;

std::unique_ptr<RsaPrivateKey> RsaPrivateKey::fromBlob(std::span<const std::uint8_t> blob)
{
    unsigned bits = 0;
    std::uint32_t exponent = 0;
    if (!headerIs(blob, kPrivateKeyBlob, kMagicRsa2, bits, exponent))
        return nullptr;
    const std::size_t m = bits / 8, h = bits / 16;
    if (blob.size() < 20 + m + 5 * h + m)
        return nullptr;
    std::unique_ptr<RsaPrivateKey> k(new RsaPrivateKey());
    State& st = *k->state_;
    st.bits = bits;
    std::size_t at = 20;
    const auto next = [&](mpz_t z, std::size_t n) {
        importLe(z, blob.subspan(at, n));
        at += n;
    };
    next(st.pub.n, m);
    mpz_set_ui(st.pub.e, exponent);
    next(st.key.p, h);
    next(st.key.q, h);
    next(st.key.a, h);
    next(st.key.b, h);
    next(st.key.c, h);
    next(st.key.d, m);
    if (!rsa_public_key_prepare(&st.pub) || !rsa_private_key_prepare(&st.key))
        return nullptr;
    return k;
}

std::size_t RsaPrivateKey::modulusBytes() const
{
    return state_->pub.size;
}

Bytes RsaPrivateKey::sign(const Md5Digest& digest) const
{
    mpz_t s;
    mpz_init(s);
    Bytes out;
    if (rsa_md5_sign_digest_tr(&state_->pub, &state_->key, nullptr, systemRandom, digest.data(), s))
        exportLe(out, s, modulusBytes());
    mpz_clear(s);
    return out;
}

Bytes RsaPrivateKey::publicBlob() const
{
    Bytes out{kPublicKeyBlob, kBlobVersion, 0, 0};
    putLe32(out, kAlgRsaSign);
    putLe32(out, kMagicRsa1);
    putLe32(out, state_->bits);
    putLe32(out, static_cast<std::uint32_t>(mpz_get_ui(state_->pub.e)));
    exportLe(out, state_->pub.n, state_->bits / 8);
    return out;
}

Bytes generateRsaKeyPair(unsigned bits, std::uint32_t publicExponent)
{
    if (bits < 512 || bits > 16384 || bits % 16 != 0 || publicExponent < 3 || publicExponent % 2 == 0)
        return {};
    rsa_public_key pub;
    rsa_private_key key;
    rsa_public_key_init(&pub);
    rsa_private_key_init(&key);
    mpz_set_ui(pub.e, publicExponent);
    Bytes out;
    if (rsa_generate_keypair(&pub, &key, nullptr, systemRandom, nullptr, nullptr, bits, 0) &&
        mpz_sizeinbase(pub.n, 2) == bits && mpz_sizeinbase(key.p, 2) <= bits / 2 &&
        mpz_sizeinbase(key.q, 2) <= bits / 2) {
        out = {kPrivateKeyBlob, kBlobVersion, 0, 0};
        putLe32(out, kAlgRsaSign);
        putLe32(out, kMagicRsa2);
        putLe32(out, bits);
        putLe32(out, publicExponent);
        exportLe(out, pub.n, bits / 8);
        exportLe(out, key.p, bits / 16);
        exportLe(out, key.q, bits / 16);
        exportLe(out, key.a, bits / 16);
        exportLe(out, key.b, bits / 16);
        exportLe(out, key.c, bits / 16);
        exportLe(out, key.d, bits / 8);
    }
    rsa_private_key_clear(&key);
    rsa_public_key_clear(&pub);
    return out;
}

} // namespace platform::crypto
