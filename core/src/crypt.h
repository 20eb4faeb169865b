// The standard security handler: password checks, file keys, decryption.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "object.h"
#include "result.h"

// libcrypto's cipher context (EVP_CIPHER_CTX), kept opaque here.
struct evp_cipher_ctx_st;

namespace vellox_core {

struct CipherContextFree {
    void operator()(evp_cipher_ctx_st* ctx) const;
};

enum class CryptMethod : std::uint8_t { Rc4, Aes128, Aes256 };

struct Decryptor {
    Bytes key;
    CryptMethod method = CryptMethod::Rc4;
    // One cipher context for every AES decryption of the document's strings
    // and streams, keyed afresh for each: setting a context up is most of
    // the cost of decrypting a short string. Made on first use. Like the
    // resolver's caches it makes a document usable by one thread at a time.
    mutable std::unique_ptr<evp_cipher_ctx_st, CipherContextFree> aes_context;

    Decryptor() = default;
    Decryptor(Bytes file_key, CryptMethod crypt_method)
        : key(std::move(file_key)), method(crypt_method) {}
    // A copy has the same key and method and a context of its own.
    Decryptor(const Decryptor& other) : key(other.key), method(other.method) {}
    Decryptor& operator=(const Decryptor& other) {
        key = other.key;
        method = other.method;
        aes_context.reset();
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
    static Bytes object_key(ByteView key, std::uint32_t num, std::uint16_t gen, bool aes);
};

// The file key length in bits that revisions up to 4 derive (the MD5 path):
// /Length of the encryption dictionary (40 when absent) up to V 3; for V 4
// the crypt filter StdCF decides, for V 5 it is 256.
std::int64_t key_length_bits(const Dictionary& encrypt);

Bytes md5_iterations(Bytes digest, unsigned n, std::int64_t r);
Bytes hash_r6(ByteView password, ByteView salt, ByteView udata);
Bytes aes256_cbc_nopad(ByteView key, ByteView data);
Bytes sha256_of(ByteView data);
Bytes rc4(ByteView key, ByteView data);  // key must not be empty

}  // namespace vellox_core
