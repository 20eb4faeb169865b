// The standard security handler: password checks, file keys, decryption.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "object.h"
#include "result.h"

// libcrypto's algorithm and context types (EVP_MD, EVP_MD_CTX, EVP_CIPHER,
// EVP_CIPHER_CTX), kept opaque here.
struct evp_md_st;
struct evp_md_ctx_st;
struct evp_cipher_st;
struct evp_cipher_ctx_st;

namespace vellox_core {

struct LibcryptoFree {
    void operator()(evp_md_st* md) const;
    void operator()(evp_md_ctx_st* ctx) const;
    void operator()(evp_cipher_st* cipher) const;
    void operator()(evp_cipher_ctx_st* ctx) const;
};

enum class DigestKind : std::uint8_t { Md5, Sha256, Sha384, Sha512 };
enum class AesKind : std::uint8_t { Aes128Cbc, Aes256Cbc };

// The libcrypto algorithms and contexts that one document's password checks
// and decryption use, each fetched or made on first use and kept. Named as
// EVP_md5() and its kind, an algorithm is looked up again in the provider's
// method store every time a context is set up with it, and EVP_Digest makes
// and frees a context per call; the password checks hash a few bytes
// thousands of times (50 MD5 rounds per candidate key, some 64 AES and SHA-2
// rounds per hardened hash), so those look-ups were most of what opening an
// encrypted file cost. Owned by whoever derives or decrypts, never shared:
// usable by one thread at a time.
struct Libcrypto {
    std::array<std::unique_ptr<evp_md_st, LibcryptoFree>, 4> digests;
    std::array<std::unique_ptr<evp_md_ctx_st, LibcryptoFree>, 4> digest_contexts;
    std::array<std::unique_ptr<evp_cipher_st, LibcryptoFree>, 2> ciphers;
    // One cipher context for every AES operation, keyed afresh for each; it
    // keeps the algorithm it was last set up with.
    std::unique_ptr<evp_cipher_ctx_st, LibcryptoFree> cipher_context;

    // The digest of `data` into `out`, resized to the digest's size; false,
    // with `out` empty, when libcrypto fails.
    bool digest(DigestKind kind, ByteView data, Bytes& out);
    // CBC over whole blocks with padding off, into `out`, resized to the
    // input's size; false, with `out` empty, for a key or IV of the wrong
    // size, empty or partial-block input, or any libcrypto failure.
    bool aes_cbc(AesKind kind, bool encrypt, ByteView key, ByteView iv, ByteView data, Bytes& out);
};

enum class CryptMethod : std::uint8_t { Rc4, Aes128, Aes256 };

struct Decryptor {
    Bytes key;
    CryptMethod method = CryptMethod::Rc4;
    // The algorithms and contexts the key was derived with, reused for
    // every string and stream: setting a context up is most of the cost of
    // decrypting a short string. Like the resolver's caches it makes a
    // document usable by one thread at a time.
    mutable Libcrypto crypto;

    Decryptor() = default;
    Decryptor(Bytes file_key, CryptMethod crypt_method)
        : key(std::move(file_key)), method(crypt_method) {}
    // A copy has the same key and method and contexts of its own.
    Decryptor(const Decryptor& other) : key(other.key), method(other.method) {}
    Decryptor& operator=(const Decryptor& other) {
        key = other.key;
        method = other.method;
        crypto = Libcrypto{};
        return *this;
    }
    Decryptor(Decryptor&&) noexcept = default;
    Decryptor& operator=(Decryptor&&) noexcept = default;

    // Checks the password (user, then owner) and derives the file key.
    // InvalidPassword when the password is neither, Unsupported for a
    // security handler other than the standard one; nothing when the
    // dictionary cannot be read as the standard handler's, and the document
    // is then read as stored.
    static Result<std::optional<Decryptor>> from_encrypt(const Dictionary& encrypt, ByteView id,
                                                         ByteView password);

    Object decrypt_object(std::uint32_t num, std::uint16_t gen, Object object) const;
    Dictionary decrypt_dict(std::uint32_t num, std::uint16_t gen, Dictionary dict) const;
    Bytes decrypt_bytes(std::uint32_t num, std::uint16_t gen, ByteView data) const;
    static Bytes object_key(Libcrypto& crypto, ByteView key, std::uint32_t num, std::uint16_t gen,
                            bool aes);
};

// The file key length in bits that revisions up to 4 derive (the MD5 path):
// /Length of the encryption dictionary (40 when absent) up to V 3; for V 4
// the crypt filter StdCF decides, for V 5 it is 256.
std::int64_t key_length_bits(const Dictionary& encrypt);

Bytes md5_iterations(Libcrypto& crypto, Bytes digest, unsigned n, std::int64_t r);
Bytes hash_r6(Libcrypto& crypto, ByteView password, ByteView salt, ByteView udata);
Bytes aes256_cbc_nopad(Libcrypto& crypto, ByteView key, ByteView data);
Bytes sha256_of(Libcrypto& crypto, ByteView data);
Bytes rc4(ByteView key, ByteView data);  // key must not be empty

}  // namespace vellox_core
