// The standard security handler.
//
// Revisions 2 to 4 derive the file key with MD5 and RC4 (ISO 32000-1,
// Algorithms 2 to 7); revisions 5 and 6 check the password with the hardened
// SHA-2 hash and unwrap the file key from UE or OE with AES-256 (ISO 32000-2,
// Algorithms 2.A and 2.B). Strings and streams are then decrypted per object
// with RC4, AES-128 (per-object key) or AES-256 (the file key itself).
//
// MD5, SHA-2 and AES come from libcrypto's EVP interface. Any libcrypto call
// that fails gives an empty digest or an empty plaintext, which every caller
// below treats as "cannot decrypt": a password that does not validate, or data
// handed back unchanged. Nothing here reports an error.

#include "crypt.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

namespace vellox_core {

namespace {

// The parsed encryption dictionary; lives only while the key is derived.
struct Params {
    Bytes o;
    Bytes u;
    Bytes oe;
    Bytes ue;
    std::int64_t r = 0;
    std::int64_t length = 40;
    std::int64_t p = 0;
    // /EncryptMetadata false: revision 4 keys then hash four 0xFF bytes more.
    bool encrypt_metadata = true;

    Bytes key_from_user_pw(Libcrypto& crypto, ByteView id, ByteView password) const;
    bool user_validates(Libcrypto& crypto, ByteView key, ByteView id) const;
};

// ISO 32000-1, Algorithm 2 step a: a password shorter than 32 bytes is
// completed with the leading bytes of this string.
constexpr std::array<std::uint8_t, 32> kPadding = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

constexpr std::size_t kMd5Size = 16;
constexpr std::size_t kAesBlock = 16;
constexpr std::size_t kAes128Key = 16;
constexpr std::size_t kAes256Key = 32;
// O and U of revisions 5 and 6: a 32-byte hash, an 8-byte validation salt
// and an 8-byte key salt.
constexpr std::size_t kR6HashSize = 32;
constexpr std::size_t kR6SaltSize = 8;
constexpr std::size_t kR6EntrySize = kR6HashSize + 2 * kR6SaltSize;

// libcrypto's names for the algorithms of DigestKind and AesKind, in order.
constexpr std::array<const char*, 4> kDigestNames = {"MD5", "SHA256", "SHA384", "SHA512"};
constexpr std::array<const char*, 2> kCipherNames = {"AES-128-CBC", "AES-256-CBC"};
constexpr std::array<std::size_t, 2> kAesKeySizes = {kAes128Key, kAes256Key};

Bytes md5_of(Libcrypto& crypto, ByteView data) {
    Bytes out;
    crypto.digest(DigestKind::Md5, data, out);
    return out;
}

void append(Bytes& out, ByteView data) { out.insert(out.end(), data.begin(), data.end()); }

// The password's first 32 bytes, completed with the padding string.
Bytes pad_password(ByteView password) {
    const std::size_t used = std::min(password.size(), kPadding.size());
    Bytes out(password.begin(), password.begin() + static_cast<std::ptrdiff_t>(used));
    out.insert(out.end(), kPadding.begin(),
               kPadding.begin() + static_cast<std::ptrdiff_t>(kPadding.size() - used));
    return out;
}

// Key bytes used on the MD5 path: length / 8, never more than one digest.
std::size_t md5_key_size(std::int64_t length_bits) {
    if (length_bits < 8) return 0;
    return static_cast<std::size_t>(std::min<std::int64_t>(length_bits / 8, kMd5Size));
}

Bytes xor_key(ByteView key, std::uint8_t i) {
    Bytes out(key.begin(), key.end());
    for (auto& b : out) b ^= i;
    return out;
}

bool prefix_equal(ByteView a, ByteView b, std::size_t n) {
    return a.size() >= n && b.size() >= n && std::memcmp(a.data(), b.data(), n) == 0;
}

const Dictionary* dict_or_stream_dict(const Object* o) {
    if (o == nullptr) return nullptr;
    if (const Dictionary* d = o->as_dict()) return d;
    if (const Stream* s = o->as_stream()) return &s->dict;
    return nullptr;
}

const std::int64_t* int_entry(const Dictionary& d, std::string_view key) {
    const Object* o = d.get(key);
    return o != nullptr ? o->as_int() : nullptr;
}

// The crypt filter named StdCF (the one producers point StmF and StrF at).
const Dictionary* std_crypt_filter(const Dictionary& encrypt) {
    const Dictionary* cf = dict_or_stream_dict(encrypt.get("CF"));
    return cf != nullptr ? dict_or_stream_dict(cf->get("StdCF")) : nullptr;
}

// V 5 is AES-256; V 4 reads the method of the crypt filter StdCF;
// everything else is RC4.
CryptMethod read_method(const Dictionary& encrypt) {
    const std::int64_t* version = int_entry(encrypt, "V");
    if (version == nullptr) return CryptMethod::Rc4;
    if (*version == 5) return CryptMethod::Aes256;
    if (*version != 4) return CryptMethod::Rc4;
    const Dictionary* std_cf = std_crypt_filter(encrypt);
    const Object* cfm = std_cf != nullptr ? std_cf->get("CFM") : nullptr;
    if (cfm == nullptr) return CryptMethod::Rc4;
    if (cfm->is_name("AESV3")) return CryptMethod::Aes256;
    if (cfm->is_name("AESV2")) return CryptMethod::Aes128;
    return CryptMethod::Rc4;
}

const Bytes* string_entry(const Dictionary& d, std::string_view key) {
    const Object* o = d.get(key);
    const String* s = o != nullptr ? o->as_string() : nullptr;
    return s != nullptr ? &s->bytes : nullptr;
}

// Revisions up to 4: the password as user password, then as owner password
// (whose RC4-decrypted O entry is the user password); nothing when it is
// neither.
std::optional<Decryptor> md5_path(Libcrypto& crypto, const Params& params, ByteView id,
                                  ByteView password, CryptMethod method) {
    const std::size_t n = md5_key_size(params.length);
    Bytes key1 = params.key_from_user_pw(crypto, id, password);
    if (params.user_validates(crypto, key1, id)) return Decryptor{std::move(key1), method};

    Bytes h = md5_iterations(crypto, md5_of(crypto, pad_password(password)),
                             static_cast<unsigned>(n), params.r);
    if (h.size() >= n) {
        const Bytes rc4key(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(n));
        Bytes candidate;
        if (params.r <= 2) {
            candidate = rc4(rc4key, params.o);
        } else {
            candidate = params.o;
            for (int i = 19; i >= 0; --i) {
                candidate = rc4(xor_key(rc4key, static_cast<std::uint8_t>(i)), candidate);
            }
        }
        Bytes key2 = params.key_from_user_pw(crypto, id, candidate);
        if (params.user_validates(crypto, key2, id)) return Decryptor{std::move(key2), method};
    }
    return std::nullopt;
}

ByteView slice(const Bytes& b, std::size_t from, std::size_t to) {
    return ByteView(b).subspan(from, to - from);
}

using PasswordHash = Bytes (*)(Libcrypto& crypto, ByteView password, ByteView salt, ByteView udata);

// Revision 5 as first deployed (before the hardened hash of revision 6) hashed
// the password, salt and user data once with SHA-256.
Bytes single_sha256(Libcrypto& crypto, ByteView password, ByteView salt, ByteView udata) {
    Bytes input(password.begin(), password.end());
    append(input, salt);
    append(input, udata);
    return sha256_of(crypto, input);
}

std::optional<Decryptor> sha2_check(Libcrypto& crypto, const Params& params, ByteView password,
                                    CryptMethod method, PasswordHash hash) {
    const ByteView u_hash = slice(params.u, 0, kR6HashSize);
    const ByteView u_valid_salt = slice(params.u, kR6HashSize, kR6HashSize + kR6SaltSize);
    const ByteView u_key_salt = slice(params.u, kR6HashSize + kR6SaltSize, kR6EntrySize);
    const Bytes check = hash(crypto, password, u_valid_salt, {});
    if (prefix_equal(check, u_hash, kR6HashSize)) {
        return Decryptor{
            aes256_cbc_nopad(crypto, hash(crypto, password, u_key_salt, {}), params.ue), method};
    }
    if (params.o.size() < kR6EntrySize) return std::nullopt;
    const ByteView u48 = slice(params.u, 0, kR6EntrySize);
    const ByteView o_hash = slice(params.o, 0, kR6HashSize);
    const ByteView o_valid_salt = slice(params.o, kR6HashSize, kR6HashSize + kR6SaltSize);
    const ByteView o_key_salt = slice(params.o, kR6HashSize + kR6SaltSize, kR6EntrySize);
    const Bytes owner_check = hash(crypto, password, o_valid_salt, u48);
    if (prefix_equal(owner_check, o_hash, kR6HashSize)) {
        return Decryptor{
            aes256_cbc_nopad(crypto, hash(crypto, password, o_key_salt, u48), params.oe), method};
    }
    return std::nullopt;
}

// Revisions 5 and 6 (treated alike): nothing when neither password
// validates, or U is too short to check any.
std::optional<Decryptor> sha2_path(Libcrypto& crypto, const Params& params, ByteView password,
                                   CryptMethod method) {
    if (params.u.size() < kR6EntrySize) return std::nullopt;
    // Revision 5 files from producers of that era use the single SHA-256;
    // without this check their correct passwords would never validate. It
    // comes first: it costs two hashes of a few bytes, where the hardened
    // hash costs some 64 rounds of encrypting and hashing kilobytes.
    if (params.r == 5) {
        if (auto single = sha2_check(crypto, params, password, method, single_sha256)) {
            return single;
        }
    }
    return sha2_check(crypto, params, password, method, hash_r6);
}

Error password_error(ByteView password) {
    if (password.empty()) return {ErrorKind::InvalidPassword, "a password is required"};
    return {ErrorKind::InvalidPassword, "wrong password"};
}

}  // namespace

// ---------------------------------------------------------------- primitives

void LibcryptoFree::operator()(evp_md_st* md) const { EVP_MD_free(md); }
void LibcryptoFree::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }
void LibcryptoFree::operator()(evp_cipher_st* cipher) const { EVP_CIPHER_free(cipher); }
void LibcryptoFree::operator()(evp_cipher_ctx_st* ctx) const { EVP_CIPHER_CTX_free(ctx); }

bool Libcrypto::digest(DigestKind kind, ByteView data, Bytes& out) {
    const auto i = static_cast<std::size_t>(kind);
    out.clear();
    if (!digests[i]) digests[i].reset(EVP_MD_fetch(nullptr, kDigestNames[i], nullptr));
    if (!digest_contexts[i]) digest_contexts[i].reset(EVP_MD_CTX_new());
    EVP_MD_CTX* ctx = digest_contexts[i].get();
    if (!digests[i] || ctx == nullptr) return false;
    out.resize(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    // The context keeps its algorithm between calls: initialising it again
    // with the same fetched one only resets the hash state.
    if (EVP_DigestInit_ex(ctx, digests[i].get(), nullptr) != 1 ||
        EVP_DigestUpdate(ctx, data.data(), data.size()) != 1 ||
        EVP_DigestFinal_ex(ctx, out.data(), &size) != 1 || size > out.size()) {
        // A context a failure left half set up is not used again.
        digest_contexts[i].reset();
        out.clear();
        return false;
    }
    out.resize(size);
    return true;
}

bool Libcrypto::aes_cbc(AesKind kind, bool encrypt, ByteView key, ByteView iv, ByteView data,
                        Bytes& out) {
    const auto i = static_cast<std::size_t>(kind);
    // `out` keeps its bytes until it is resized below: a buffer reused from
    // the last call (the hardened hash's 64 rounds) is then not zeroed again.
    if (data.empty() || data.size() % kAesBlock != 0 || key.size() != kAesKeySizes[i] ||
        iv.size() != kAesBlock) {
        out.clear();
        return false;
    }
    if (!ciphers[i]) ciphers[i].reset(EVP_CIPHER_fetch(nullptr, kCipherNames[i], nullptr));
    if (!cipher_context) cipher_context.reset(EVP_CIPHER_CTX_new());
    EVP_CIPHER_CTX* ctx = cipher_context.get();
    if (!ciphers[i] || ctx == nullptr) {
        out.clear();
        return false;
    }
    // Named again, the algorithm would be set up afresh in the context; left
    // out, the context keeps it and takes only the new key and IV.
    const EVP_CIPHER* cipher =
        EVP_CIPHER_CTX_get0_cipher(ctx) == ciphers[i].get() ? nullptr : ciphers[i].get();
    auto fail = [&] {
        cipher_context.reset();
        out.clear();
        return false;
    };
    if (EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx, 0) != 1) {
        return fail();
    }
    // EVP lengths are ints: feed the data in slices well below INT_MAX.
    constexpr std::size_t kSlice = std::size_t{1} << 30;
    out.resize(data.size() + kAesBlock);
    std::size_t done = 0;
    std::size_t produced = 0;
    while (done < data.size()) {
        const std::size_t take = std::min(kSlice, data.size() - done);
        int written = 0;
        if (EVP_CipherUpdate(ctx, out.data() + produced, &written, data.data() + done,
                             static_cast<int>(take)) != 1 ||
            written < 0) {
            return fail();
        }
        done += take;
        produced += static_cast<std::size_t>(written);
    }
    int tail = 0;
    if (EVP_CipherFinal_ex(ctx, out.data() + produced, &tail) != 1 || tail < 0) return fail();
    produced += static_cast<std::size_t>(tail);
    if (produced != data.size()) return fail();
    out.resize(produced);
    return true;
}

Bytes rc4(ByteView key, ByteView data) {
    // RC4 cannot run without key bytes; treat it as data that cannot be
    // decrypted.
    if (key.empty()) return Bytes(data.begin(), data.end());
    std::array<std::uint8_t, 256> s{};
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i);
    std::uint8_t j = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        j = static_cast<std::uint8_t>(j + s[i] + key[i % key.size()]);
        std::swap(s[i], s[j]);
    }
    Bytes out(data.begin(), data.end());
    std::uint8_t x = 0;
    std::uint8_t y = 0;
    for (auto& b : out) {
        x = static_cast<std::uint8_t>(x + 1);
        y = static_cast<std::uint8_t>(y + s[x]);
        std::swap(s[x], s[y]);
        b ^= s[static_cast<std::uint8_t>(s[x] + s[y])];
    }
    return out;
}

Bytes sha256_of(Libcrypto& crypto, ByteView data) {
    Bytes out;
    crypto.digest(DigestKind::Sha256, data, out);
    return out;
}

Bytes aes256_cbc_nopad(Libcrypto& crypto, ByteView key, ByteView data) {
    const std::array<std::uint8_t, kAesBlock> zero_iv{};
    Bytes out;
    crypto.aes_cbc(AesKind::Aes256Cbc, false, key, zero_iv, data, out);
    return out;
}

Bytes md5_iterations(Libcrypto& crypto, Bytes digest, unsigned n, std::int64_t r) {
    if (r < 3) return digest;
    Bytes next;
    for (int round = 0; round < 50; ++round) {
        const std::size_t used = std::min<std::size_t>(n, digest.size());
        crypto.digest(DigestKind::Md5, ByteView(digest).first(used), next);
        std::swap(digest, next);
    }
    return digest;
}

// ISO 32000-2 Algorithm 2.B. Each round encrypts 64 copies of
// password ‖ K ‖ udata and hashes the result with SHA-256, -384 or -512 as
// the ciphertext selects. The loop ends by itself: the stop test
// "last byte of E ≤ j − 31" holds for every byte value once j reaches 286.
Bytes hash_r6(Libcrypto& crypto, ByteView password, ByteView salt, ByteView udata) {
    Bytes seed(password.begin(), password.end());
    append(seed, salt);
    append(seed, udata);
    Bytes k = sha256_of(crypto, seed);
    if (k.size() != 32) return {};

    Bytes k1;
    Bytes e;
    for (std::uint32_t j = 0;; ++j) {
        std::size_t chunk = 0;
        std::size_t total = 0;
        if (__builtin_add_overflow(password.size(), k.size(), &chunk) ||
            __builtin_add_overflow(chunk, udata.size(), &chunk) ||
            __builtin_mul_overflow(chunk, std::size_t{64}, &total) ||
            total > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
            return {};
        }
        // password ‖ K ‖ udata once, then the copies made so far copied
        // after themselves until there are 64.
        k1.resize(total);
        std::uint8_t* out = k1.data();
        if (!password.empty()) std::memcpy(out, password.data(), password.size());
        std::memcpy(out + password.size(), k.data(), k.size());
        if (!udata.empty()) {
            std::memcpy(out + password.size() + k.size(), udata.data(), udata.size());
        }
        for (std::size_t filled = chunk; filled < total;) {
            const std::size_t n = std::min(filled, total - filled);
            std::memcpy(out + filled, out, n);
            filled += n;
        }
        // AES-128-CBC keyed with the first 16 bytes of K and the next 16 as
        // IV, no padding: the input is a multiple of 16 bytes (64 copies).
        if (!crypto.aes_cbc(AesKind::Aes128Cbc, true, ByteView(k).first(16),
                            ByteView(k).subspan(16, 16), k1, e)) {
            return {};
        }
        unsigned sum = 0;
        for (std::size_t i = 0; i < 16; ++i) sum += e[i];
        const DigestKind hash = sum % 3 == 0   ? DigestKind::Sha256
                                : sum % 3 == 1 ? DigestKind::Sha384
                                               : DigestKind::Sha512;
        if (!crypto.digest(hash, e, k) || k.size() < 32) return {};
        if (j >= 63 && static_cast<std::uint32_t>(e.back()) + 31 <= j) break;
    }
    k.resize(32);
    return k;
}

// ---------------------------------------------------------------- MD5 path

// ISO 32000-1 Algorithm 2 (without the metadata flag).
Bytes Params::key_from_user_pw(Libcrypto& crypto, ByteView id, ByteView password) const {
    const std::size_t n = md5_key_size(length);
    Bytes input = pad_password(password);
    append(input, o);
    const auto p32 = static_cast<std::uint32_t>(p);
    for (int shift = 0; shift < 32; shift += 8) {
        input.push_back(static_cast<std::uint8_t>(p32 >> shift));
    }
    append(input, id);
    // Algorithm 2 step f. PDF 1.7 writers that leave the XMP metadata in the
    // clear say so with /EncryptMetadata false (pdfminer-samples'
    // encryption-aes-128-m.pdf); without these bytes their passwords fail.
    if (r >= 4 && !encrypt_metadata) input.insert(input.end(), 4, 0xFF);
    Bytes h = md5_iterations(crypto, md5_of(crypto, input), static_cast<unsigned>(n), r);
    h.resize(std::min(n, h.size()));
    return h;
}

// ISO 32000-1 Algorithms 4 and 5, compared as Algorithm 6 does: only the
// first 16 bytes of U count in every revision (the rest is arbitrary padding
// at revision 3 and above).
bool Params::user_validates(Libcrypto& crypto, ByteView key, ByteView id) const {
    if (key.empty()) return false;
    Bytes x;
    if (r >= 3) {
        Bytes input(kPadding.begin(), kPadding.end());
        append(input, id);
        x = rc4(key, md5_of(crypto, input));
        for (std::uint8_t i = 1; i <= 19; ++i) x = rc4(xor_key(key, i), x);
    } else {
        x = rc4(key, kPadding);
    }
    return prefix_equal(x, u, kMd5Size);
}

// A crypt filter's /Length: ISO 32000-1 has the standard handler count it in
// bytes, while most producers write bits, as for the top-level /Length (qpdf
// and pypdf write 16, Acrobat 128). No key is longer than 32 bytes and none
// shorter than 40 bits, so a value up to 32 is bytes and anything else bits.
constexpr std::int64_t kMaxLengthInBytes = 32;
// The RC4 key lengths a crypt filter of method V2 may ask for.
constexpr std::int64_t kMinRc4KeyBits = 40;
constexpr std::int64_t kMaxRc4KeyBits = 128;

std::int64_t key_length_bits(const Dictionary& encrypt) {
    const std::int64_t* version = int_entry(encrypt, "V");
    const std::int64_t* length = int_entry(encrypt, "Length");
    if (version != nullptr && *version == 5) return 256;
    if (version == nullptr || *version != 4) return length != nullptr ? *length : 40;
    // V 4: the top-level /Length is optional and its default of 40 bits is
    // not meant for crypt filters (pypdf-resources'
    // encryption-r4-aes-v2-no-key-length.pdf has none, and its key is 128
    // bits). The AES methods fix the length; an RC4 filter may give its own,
    // else the top-level one holds, else 128 bits.
    const Dictionary* std_cf = std_crypt_filter(encrypt);
    const Object* cfm = std_cf != nullptr ? std_cf->get("CFM") : nullptr;
    if (cfm != nullptr && cfm->is_name("AESV2")) return 128;
    if (cfm != nullptr && cfm->is_name("AESV3")) return 256;
    if (const std::int64_t* own = std_cf != nullptr ? int_entry(*std_cf, "Length") : nullptr) {
        const std::int64_t bits = *own >= 0 && *own <= kMaxLengthInBytes ? *own * 8 : *own;
        if (bits >= kMinRc4KeyBits && bits <= kMaxRc4KeyBits) return bits;
    }
    return length != nullptr ? *length : 128;
}

Result<std::optional<Decryptor>> Decryptor::from_encrypt(const Dictionary& encrypt, ByteView id,
                                                         ByteView password) {
    const Object* filter = encrypt.get("Filter");
    const Name* handler = filter != nullptr ? filter->as_name() : nullptr;
    if (handler == nullptr) return std::optional<Decryptor>{};
    // Public-key (Adobe.PubSec) and vendor handlers need certificates or
    // plug-ins: the file cannot be read, and saying so beats reading it as
    // stored and failing on the first encrypted stream.
    if (handler->text != "Standard") {
        return Error{ErrorKind::Unsupported, "security handler " + handler->text};
    }
    Params params;
    const std::int64_t* r = int_entry(encrypt, "R");
    if (r == nullptr) return std::optional<Decryptor>{};
    params.r = *r;
    params.length = key_length_bits(encrypt);
    const Bytes* o = string_entry(encrypt, "O");
    const Bytes* u = string_entry(encrypt, "U");
    if (o == nullptr || u == nullptr) return std::optional<Decryptor>{};
    params.o = *o;
    params.u = *u;
    if (const Bytes* oe = string_entry(encrypt, "OE")) params.oe = *oe;
    if (const Bytes* ue = string_entry(encrypt, "UE")) params.ue = *ue;
    const std::int64_t* p = int_entry(encrypt, "P");
    if (p == nullptr) return std::optional<Decryptor>{};
    params.p = *p;
    if (const Object* flag = encrypt.get("EncryptMetadata"); flag != nullptr && flag->as_bool()) {
        params.encrypt_metadata = *flag->as_bool();
    }
    const CryptMethod method = read_method(encrypt);

    Libcrypto crypto;
    std::optional<Decryptor> decryptor;
    if (params.r >= 5) {
        decryptor = sha2_path(crypto, params, password, method);
    } else if (params.length < 8 || params.length / 8 > static_cast<std::int64_t>(kMd5Size)) {
        // The MD5 path needs 1 to 16 key bytes: RC4 cannot run without a
        // key, and one MD5 digest holds no more than 16.
        return std::optional<Decryptor>{};
    } else {
        decryptor = md5_path(crypto, params, id, password, method);
    }
    if (!decryptor) return password_error(password);
    // The algorithms fetched for the checks serve the document's strings and
    // streams too.
    decryptor->crypto = std::move(crypto);
    return decryptor;
}

// ---------------------------------------------------------------- objects

// ISO 32000-1 Algorithm 1.
Bytes Decryptor::object_key(Libcrypto& crypto, ByteView key, std::uint32_t num, std::uint16_t gen,
                            bool aes) {
    Bytes input(key.begin(), key.end());
    for (int shift = 0; shift < 24; shift += 8) {
        input.push_back(static_cast<std::uint8_t>(num >> shift));
    }
    input.push_back(static_cast<std::uint8_t>(gen));
    input.push_back(static_cast<std::uint8_t>(gen >> 8));
    if (aes) append(input, as_bytes("sAlT"));
    Bytes h = md5_of(crypto, input);
    h.resize(std::min(std::min(key.size() + 5, kMd5Size), h.size()));
    return h;
}

Bytes Decryptor::decrypt_bytes(std::uint32_t num, std::uint16_t gen, ByteView data) const {
    if (method == CryptMethod::Rc4) return rc4(object_key(crypto, key, num, gen, false), data);

    Bytes aes_key;
    AesKind kind = AesKind::Aes256Cbc;
    if (method == CryptMethod::Aes128) {
        aes_key = object_key(crypto, key, num, gen, true);
        kind = AesKind::Aes128Cbc;
    } else {
        aes_key = key;
    }
    auto unchanged = [data] { return Bytes(data.begin(), data.end()); };
    // The first block is the IV; at least one block of ciphertext must follow.
    if (data.size() <= kAesBlock) return unchanged();
    Bytes plain;
    if (!crypto.aes_cbc(kind, false, aes_key, data.first(kAesBlock), data.subspan(kAesBlock),
                        plain)) {
        return unchanged();
    }
    // PKCS#5 padding: g bytes of value g end the last block. Anything else
    // means this is not AES data under this key, and the input stands.
    const std::uint8_t g = plain.back();
    if (g < 1 || g > kAesBlock) return unchanged();
    for (std::size_t i = plain.size() - g; i < plain.size(); ++i) {
        if (plain[i] != g) return unchanged();
    }
    plain.resize(plain.size() - g);
    return plain;
}

// Recursion follows the object's own nesting, which the parser bounds.
Object Decryptor::decrypt_object(std::uint32_t num, std::uint16_t gen, Object object) const {
    if (String* s = object.as_string()) {
        return Object(String{decrypt_bytes(num, gen, s->bytes)});
    }
    if (Array* a = object.as_array()) {
        Array out;
        out.reserve(a->size());
        for (Object& element : *a) out.push_back(decrypt_object(num, gen, std::move(element)));
        return Object(std::move(out));
    }
    if (Dictionary* d = object.as_dict()) return Object(decrypt_dict(num, gen, std::move(*d)));
    if (Stream* s = object.as_stream()) {
        Stream out;
        out.dict = decrypt_dict(num, gen, std::move(s->dict));
        out.data = decrypt_bytes(num, gen, s->data);
        return Object(std::move(out));
    }
    return object;
}

// A repeated key keeps its first position and takes the later value, as the
// parser does for a dictionary read from the file.
Dictionary Decryptor::decrypt_dict(std::uint32_t num, std::uint16_t gen, Dictionary dict) const {
    Dictionary out;
    out.entries.reserve(dict.entries.size());
    std::unordered_map<std::string, std::size_t> position;
    for (auto& [k, value] : dict.entries) {
        Object decrypted = decrypt_object(num, gen, std::move(value));
        const auto [it, inserted] = position.emplace(k, out.entries.size());
        if (inserted) {
            out.entries.emplace_back(std::move(k), std::move(decrypted));
        } else {
            out.entries[it->second].second = std::move(decrypted);
        }
    }
    return out;
}

}  // namespace vellox_core
