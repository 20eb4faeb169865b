#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "cos.h"
#include "crypt.h"

using namespace vellox_core;

namespace {

// ---------------------------------------------------------------- helpers

Bytes from_hex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

// The values make.sh dumped for one qpdf-written fixture.
using Fixture = std::map<std::string, std::string>;

Fixture load_fixture(const std::string& name) {
    std::ifstream in(std::string(VELLOX_SOURCE_DIR) + "/core/tests/fixtures/crypt/" + name +
                     ".txt");
    Fixture f;
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        if (space == std::string::npos) continue;
        f[line.substr(0, space)] = line.substr(space + 1);
    }
    return f;
}

// The fixture's encryption dictionary, entries as qpdf wrote them.
Dictionary encrypt_dict(const Fixture& f) {
    Dictionary d;
    d.set("Filter", Object(Name{f.at("Filter")}));
    for (const char* key : {"V", "R", "Length", "P"}) {
        if (f.count(key)) d.set(key, Object(std::int64_t{std::stoll(f.at(key))}));
    }
    for (const char* key : {"O", "U", "OE", "UE"}) {
        if (f.count(key)) d.set(key, Object(String{from_hex(f.at(key))}));
    }
    if (f.count("EncryptMetadata"))
        d.set("EncryptMetadata", Object(f.at("EncryptMetadata") == "true"));
    if (f.count("CFM")) {
        Dictionary std_cf;
        std_cf.set("CFM", Object(Name{f.at("CFM")}));
        Dictionary cf;
        cf.set("StdCF", Object(std::move(std_cf)));
        d.set("CF", Object(std::move(cf)));
    }
    return d;
}

Bytes id_of(const Fixture& f) { return from_hex(f.at("ID")); }

using Opened = Result<std::optional<Decryptor>>;

Opened open(const Dictionary& d, const Fixture& f, std::string_view pw) {
    return Decryptor::from_encrypt(d, id_of(f), as_bytes(pw));
}

Bytes md5(ByteView data) {
    Bytes out(16);
    unsigned size = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &size, EVP_md5(), nullptr);
    return out;
}

// ISO 32000-1 Algorithm 2 written out from the standard, with libcrypto's
// MD5: the file key `password` gives as a user password at revisions 2 to 4.
Bytes user_password_key(const Fixture& f, std::string_view password) {
    static constexpr std::uint8_t kPad[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41,
                                              0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
                                              0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80,
                                              0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};
    Bytes in(password.begin(), password.begin() + std::min<std::size_t>(password.size(), 32));
    in.insert(in.end(), kPad, kPad + (32 - in.size()));
    const Bytes o = from_hex(f.at("O"));
    in.insert(in.end(), o.begin(), o.end());
    const auto p = static_cast<std::uint32_t>(std::stoll(f.at("P")));
    for (int shift = 0; shift < 32; shift += 8) in.push_back(static_cast<std::uint8_t>(p >> shift));
    const Bytes id = id_of(f);
    in.insert(in.end(), id.begin(), id.end());
    const long long r = std::stoll(f.at("R"));
    // Step f: metadata left in the clear adds four 0xFF bytes at revision 4.
    if (r >= 4 && f.count("EncryptMetadata") != 0 && f.at("EncryptMetadata") == "false") {
        in.insert(in.end(), 4, 0xFF);
    }
    const std::size_t n = r == 2 ? 5 : static_cast<std::size_t>(std::stoll(f.at("Length")) / 8);
    Bytes key = md5(in);
    if (r >= 3) {
        for (int i = 0; i < 50; ++i)
            key = md5(Bytes(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(n)));
    }
    key.resize(n);
    return key;
}

// The decryptor of an open that gave one; nothing for an error or for a
// dictionary the standard handler cannot read.
std::optional<Decryptor> decryptor(const Opened& opened) {
    return opened.ok() ? *opened : std::nullopt;
}

// The error of an open that failed (a test failure when it did not).
Error error(const Opened& opened) {
    EXPECT_FALSE(opened.ok());
    return opened.ok() ? Error{} : opened.error();
}

const Error kWrongPassword{ErrorKind::InvalidPassword, "wrong password"};
const Error kPasswordRequired{ErrorKind::InvalidPassword, "a password is required"};

// AES-CBC encryption without padding, from libcrypto directly: the test-side
// producer of ciphertext for the AES paths.
Bytes aes_encrypt(ByteView key, ByteView iv, ByteView plain) {
    const EVP_CIPHER* cipher = key.size() == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(),
                                                                   EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data()), 1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    Bytes out(iv.begin(), iv.end());
    out.resize(iv.size() + plain.size() + 16);
    int n = 0;
    int tail = 0;
    EXPECT_EQ(EVP_EncryptUpdate(ctx.get(), out.data() + iv.size(), &n, plain.data(),
                                static_cast<int>(plain.size())),
              1);
    EXPECT_EQ(EVP_EncryptFinal_ex(ctx.get(), out.data() + iv.size() + n, &tail), 1);
    out.resize(iv.size() + static_cast<std::size_t>(n + tail));
    return out;
}

// ISO 32000-1 Algorithm 1, written out independently for the AES-128 case.
Bytes aes128_object_key(ByteView file_key, std::uint32_t num, std::uint16_t gen) {
    Bytes in(file_key.begin(), file_key.end());
    in.insert(in.end(), {static_cast<std::uint8_t>(num), static_cast<std::uint8_t>(num >> 8),
                         static_cast<std::uint8_t>(num >> 16), static_cast<std::uint8_t>(gen),
                         static_cast<std::uint8_t>(gen >> 8), 's', 'A', 'l', 'T'});
    return md5(in);
}

struct Scheme {
    const char* fixture;
    CryptMethod method;
    bool sha2;
};

constexpr Scheme kSchemes[] = {
    {"r2-rc4-40", CryptMethod::Rc4, false},
    {"r3-rc4-128", CryptMethod::Rc4, false},
    {"r3-rc4-128-empty-user", CryptMethod::Rc4, false},
    {"r4-rc4-128", CryptMethod::Rc4, false},
    {"r4-aes-128", CryptMethod::Aes128, false},
    {"r4-aes-128-clear-metadata", CryptMethod::Aes128, false},
    {"r5-aes-256", CryptMethod::Aes256, true},
    {"r6-aes-256", CryptMethod::Aes256, true},
};

}  // namespace

// ---------------------------------------------------------------- RC4

TEST(Rc4, PublishedVectors) {
    struct Case {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Case cases[] = {
        {"Key", "Plaintext", "bbf316e8d940af0ad3"},
        {"Wiki", "pedia", "1021bf0420"},
        {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(rc4(as_bytes(c.key), as_bytes(c.plain)), from_hex(c.cipher));
        EXPECT_EQ(rc4(as_bytes(c.key), from_hex(c.cipher)), bytes_of(c.plain));
    }
    // RFC 6229, 40-bit key 0102030405: the first 16 keystream bytes.
    EXPECT_EQ(rc4(from_hex("0102030405"), Bytes(16, 0)),
              from_hex("b2396305f03dc027ccc3524a0a1118a8"));
}

TEST(Rc4, EmptyKeyLeavesDataUnchanged) {
    const Bytes data = bytes_of("abc");
    EXPECT_EQ(rc4({}, data), data);
    EXPECT_TRUE(rc4(as_bytes("k"), {}).empty());
}

TEST(Rc4, MatchesLibcryptoOnRandomInput) {
    std::unique_ptr<OSSL_LIB_CTX, void (*)(OSSL_LIB_CTX*)> lib(OSSL_LIB_CTX_new(),
                                                               OSSL_LIB_CTX_free);
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(lib.get(), "legacy");
    if (legacy == nullptr) GTEST_SKIP() << "libcrypto legacy provider (RC4) not available";
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(lib.get(), "RC4", nullptr);
    ASSERT_NE(cipher, nullptr);
    std::mt19937 rng(7);
    for (int iter = 0; iter < 300; ++iter) {
        Bytes key(1 + rng() % 40);
        Bytes data(rng() % 600);
        for (auto& b : key) b = static_cast<std::uint8_t>(rng());
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());

        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        ASSERT_EQ(EVP_EncryptInit_ex(ctx, cipher, nullptr, nullptr, nullptr), 1);
        ASSERT_EQ(EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size())), 1);
        ASSERT_EQ(EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), nullptr), 1);
        Bytes expected(data.size() + 1);
        int n = 0;
        ASSERT_EQ(
            EVP_EncryptUpdate(ctx, expected.data(), &n, data.data(), static_cast<int>(data.size())),
            1);
        expected.resize(static_cast<std::size_t>(n));
        EVP_CIPHER_CTX_free(ctx);
        ASSERT_EQ(rc4(key, data), expected) << "key size " << key.size();
    }
    EVP_CIPHER_free(cipher);
    OSSL_PROVIDER_unload(legacy);
}

// ---------------------------------------------------------------- qpdf oracle

TEST(FromEncrypt, DerivesQpdfKeysWithUserAndOwnerPassword) {
    for (const auto& s : kSchemes) {
        SCOPED_TRACE(s.fixture);
        const Fixture f = load_fixture(s.fixture);
        ASSERT_FALSE(f.empty());
        const Dictionary d = encrypt_dict(f);
        for (const char* who : {"user", "owner"}) {
            SCOPED_TRACE(who);
            auto dec = decryptor(open(d, f, f.at(std::string(who) + "_pw")));
            ASSERT_TRUE(dec.has_value());
            EXPECT_EQ(dec->key, from_hex(f.at(std::string(who) + "_key")));
            EXPECT_EQ(dec->method, s.method);
        }
        // A password that is neither is refused in every revision, and the
        // message tells a missing password from a wrong one.
        EXPECT_EQ(error(open(d, f, "not-the-password")), kWrongPassword);
        if (!s.sha2) {
            EXPECT_EQ(from_hex(f.at("user_key")), user_password_key(f, f.at("user_pw")));
        }
        if (!f.at("user_pw").empty()) {
            EXPECT_EQ(error(open(d, f, "")), kPasswordRequired);
        }
    }
}

TEST(FromEncrypt, OpensFixtureFilesThroughTheObjectParser) {
    // The same check straight from the PDF bytes: the trailer's Encrypt and
    // ID, and the encryption dictionary as the object parser reads it.
    for (const auto& s : kSchemes) {
        SCOPED_TRACE(s.fixture);
        const Fixture f = load_fixture(s.fixture);
        std::ifstream in(
            std::string(VELLOX_SOURCE_DIR) + "/core/tests/fixtures/crypt/" + s.fixture + ".pdf",
            std::ios::binary);
        const std::string pdf((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        const auto trailer_at = pdf.rfind("trailer");
        ASSERT_NE(trailer_at, std::string::npos);
        Lexer tl(as_bytes(pdf), pdf.find("<<", trailer_at));
        auto trailer = cos::parse_dictionary(tl);
        ASSERT_TRUE(trailer.ok());
        const Reference* enc_ref = trailer->get("Encrypt")->as_ref();
        ASSERT_NE(enc_ref, nullptr);
        const Bytes id = trailer->get("ID")->as_array()->at(0).as_string()->bytes;
        // Built in steps: g++ 12 at -O3 sees a false overlap (-Wrestrict) in
        // the one-expression form.
        std::string header = "\n";
        header += std::to_string(enc_ref->num);
        header += " 0 obj";
        const auto obj_at = pdf.find(header);
        ASSERT_NE(obj_at, std::string::npos);
        Lexer el(as_bytes(pdf), pdf.find("<<", obj_at));
        auto encrypt = cos::parse_dictionary(el);
        ASSERT_TRUE(encrypt.ok());
        auto dec = decryptor(Decryptor::from_encrypt(*encrypt, id, as_bytes(f.at("user_pw"))));
        ASSERT_TRUE(dec.has_value());
        EXPECT_EQ(dec->key, from_hex(f.at("user_key")));
        EXPECT_EQ(dec->method, s.method);
    }
}

TEST(Decrypt, RecoversQpdfPlaintextOfStringAndStream) {
    for (const auto& s : kSchemes) {
        SCOPED_TRACE(s.fixture);
        const Fixture f = load_fixture(s.fixture);
        ASSERT_FALSE(f.empty());
        auto dec = decryptor(open(encrypt_dict(f), f, f.at("user_pw")));
        ASSERT_TRUE(dec.has_value());

        Dictionary info;
        info.set("Title", Object(String{from_hex(f.at("string_cipher"))}));
        info.set("Type", Object(Name{"Info"}));
        const Object out = dec->decrypt_object(
            static_cast<std::uint32_t>(std::stoul(f.at("string_num"))),
            static_cast<std::uint16_t>(std::stoul(f.at("string_gen"))), Object(info));
        ASSERT_NE(out.as_dict(), nullptr);
        EXPECT_EQ(out.as_dict()->get("Title")->as_string()->bytes, from_hex(f.at("string_plain")));
        EXPECT_TRUE(out.as_dict()->get("Type")->is_name("Info"));

        Stream st;
        st.dict.set("Length", Object(std::int64_t{7}));
        st.data = from_hex(f.at("stream_cipher"));
        const auto num = static_cast<std::uint32_t>(std::stoul(f.at("stream_num")));
        const auto gen = static_cast<std::uint16_t>(std::stoul(f.at("stream_gen")));
        const Object sout = dec->decrypt_object(num, gen, Object(st));
        ASSERT_NE(sout.as_stream(), nullptr);
        EXPECT_EQ(sout.as_stream()->data, from_hex(f.at("stream_plain")));
        EXPECT_EQ(sout.as_stream()->dict, st.dict);
        // The object number enters every per-object key (AES-256 excepted).
        if (s.method != CryptMethod::Aes256) {
            EXPECT_NE(dec->decrypt_bytes(num + 1, gen, st.data), from_hex(f.at("stream_plain")));
        }
    }
}

// ---------------------------------------------------------------- dictionary

TEST(FromEncrypt, RefusesDictionariesItCannotRead) {
    // Nothing (the document is then read as stored) for a dictionary the
    // standard handler cannot read; the Length cases are read on a V 2
    // dictionary, where the top-level /Length is the key length.
    struct Case {
        const char* what;
        const char* fixture;
        void (*mutate)(Dictionary&);
    };
    const Case cases[] = {
        {"no Filter", "r4-aes-128", [](Dictionary& d) { d.entries.erase(d.entries.begin()); }},
        {"Filter as string", "r4-aes-128",
         [](Dictionary& d) { d.set("Filter", Object(String{bytes_of("Standard")})); }},
        {"R real", "r4-aes-128", [](Dictionary& d) { d.set("R", Object(4.0)); }},
        {"O as name", "r4-aes-128", [](Dictionary& d) { d.set("O", Object(Name{"x"})); }},
        {"U integer", "r4-aes-128", [](Dictionary& d) { d.set("U", Object(3)); }},
        {"P as real", "r4-aes-128", [](Dictionary& d) { d.set("P", Object(-4.0)); }},
        {"Length 0", "r3-rc4-128", [](Dictionary& d) { d.set("Length", Object(0)); }},
        {"Length 7", "r3-rc4-128", [](Dictionary& d) { d.set("Length", Object(7)); }},
        {"Length -128", "r3-rc4-128", [](Dictionary& d) { d.set("Length", Object(-128)); }},
        {"Length 136", "r3-rc4-128", [](Dictionary& d) { d.set("Length", Object(136)); }},
        {"Length huge", "r3-rc4-128",
         [](Dictionary& d) { d.set("Length", Object(std::int64_t{1} << 62)); }},
        // R 4 cannot make the 256-bit key that AES-256 needs.
        {"V 5 on R 4", "r4-aes-128", [](Dictionary& d) { d.set("V", Object(5)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Fixture f = load_fixture(c.fixture);
        ASSERT_TRUE(decryptor(open(encrypt_dict(f), f, "user-pw")).has_value());
        Dictionary d = encrypt_dict(f);
        c.mutate(d);
        auto opened = open(d, f, "user-pw");
        ASSERT_TRUE(opened.ok()) << opened.error().to_string();
        EXPECT_FALSE(opened->has_value());
    }
    const Fixture f = load_fixture("r4-aes-128");
    for (const char* key : {"R", "O", "U", "P"}) {
        SCOPED_TRACE(key);
        Dictionary d = encrypt_dict(f);
        std::erase_if(d.entries, [&](const auto& e) { return e.first == key; });
        auto opened = open(d, f, "user-pw");
        ASSERT_TRUE(opened.ok());
        EXPECT_FALSE(opened->has_value());
    }
}

TEST(FromEncrypt, OtherSecurityHandlersAreUnsupported) {
    const Fixture f = load_fixture("r4-aes-128");
    for (const char* handler : {"Adobe.PubSec", "FOPN_fLock", "standard"}) {
        SCOPED_TRACE(handler);
        Dictionary d = encrypt_dict(f);
        d.set("Filter", Object(Name{handler}));
        std::string message = "security handler ";
        message += handler;
        EXPECT_EQ(error(open(d, f, "user-pw")), (Error{ErrorKind::Unsupported, message}));
    }
}

TEST(FromEncrypt, LengthDefaultsTo40Bits) {
    const Fixture f = load_fixture("r2-rc4-40");
    ASSERT_EQ(f.at("Length"), "40");
    const Bytes expected = from_hex(f.at("user_key"));
    for (Object length : {Object(Null{}), Object(40.0), Object(Name{"128"})}) {
        Dictionary d = encrypt_dict(f);
        if (length.is_null()) {
            std::erase_if(d.entries, [](const auto& e) { return e.first == "Length"; });
        } else {
            d.set("Length", length);
        }
        auto dec = decryptor(open(d, f, "user-pw"));
        ASSERT_TRUE(dec.has_value());
        EXPECT_EQ(dec->key, expected);
    }
    // A revision 3 file with V 2 and no Length: a 5-byte key, which is not
    // the one the file was made with.
    const Fixture f3 = load_fixture("r3-rc4-128");
    Dictionary d3 = encrypt_dict(f3);
    std::erase_if(d3.entries, [](const auto& e) { return e.first == "Length"; });
    EXPECT_EQ(key_length_bits(d3), 40);
    EXPECT_EQ(error(open(d3, f3, "user-pw")), kWrongPassword);
}

TEST(KeyLengthBits, TopLevelLengthUpToV3CryptFilterFromV4) {
    struct Case {
        const char* what;
        std::optional<std::int64_t> v;
        const char* cfm;  // nullptr: no CF at all
        std::optional<Object> cf_length;
        std::optional<std::int64_t> length;
        std::int64_t bits;
    };
    const Case cases[] = {
        {"V 1, no Length", 1, nullptr, std::nullopt, std::nullopt, 40},
        {"V 2, Length 128", 2, nullptr, std::nullopt, 128, 128},
        {"no V, Length 56", std::nullopt, nullptr, std::nullopt, 56, 56},
        {"V 2 reads no crypt filter", 2, "AESV2", Object(16), std::nullopt, 40},
        {"V 4 AESV2, no Length", 4, "AESV2", std::nullopt, std::nullopt, 128},
        {"V 4 AESV2 over Length 40", 4, "AESV2", std::nullopt, 40, 128},
        {"V 4 AESV2 over its own 5 bytes", 4, "AESV2", Object(5), std::nullopt, 128},
        {"V 4 AESV3", 4, "AESV3", std::nullopt, 40, 256},
        {"V 5", 5, nullptr, std::nullopt, 40, 256},
        {"V2 filter, 16 bytes", 4, "V2", Object(16), 40, 128},
        {"V2 filter, 128 bits", 4, "V2", Object(128), std::nullopt, 128},
        {"V2 filter, 5 bytes", 4, "V2", Object(5), 128, 40},
        {"V2 filter, 40 bits", 4, "V2", Object(40), std::nullopt, 40},
        {"V2 filter, 32 bytes: too long for RC4", 4, "V2", Object(32), 64, 64},
        {"V2 filter, 33 bits: too short", 4, "V2", Object(33), std::nullopt, 128},
        {"V2 filter, 136 bits: too long", 4, "V2", Object(136), std::nullopt, 128},
        {"V2 filter, 0", 4, "V2", Object(0), std::nullopt, 128},
        {"V2 filter, negative", 4, "V2", Object(-16), 64, 64},
        {"V2 filter, huge", 4, "V2", Object(std::int64_t{1} << 62), std::nullopt, 128},
        {"V2 filter, real", 4, "V2", Object(16.0), std::nullopt, 128},
        {"V2 filter without Length, top-level 96", 4, "V2", std::nullopt, 96, 96},
        {"V 4 without CF", 4, nullptr, std::nullopt, std::nullopt, 128},
        {"V 4 None filter", 4, "None", std::nullopt, std::nullopt, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Dictionary d;
        if (c.v) d.set("V", Object(*c.v));
        if (c.length) d.set("Length", Object(*c.length));
        if (c.cfm != nullptr) {
            Dictionary std_cf;
            std_cf.set("CFM", Object(Name{c.cfm}));
            if (c.cf_length) std_cf.set("Length", *c.cf_length);
            Dictionary cf;
            cf.set("StdCF", Object(std::move(std_cf)));
            d.set("CF", Object(std::move(cf)));
        }
        EXPECT_EQ(key_length_bits(d), c.bits);
    }
}

TEST(FromEncrypt, CryptFilterLengthMakesTheKey) {
    // qpdf's V 4 RC4 file says 128 bits twice: as /Length 128 and as the
    // crypt filter's /Length 16. Either alone gives the same key; a crypt
    // filter of 5 bytes overrides the top level and gives another.
    const Fixture f = load_fixture("r4-rc4-128");
    const Bytes key = from_hex(f.at("user_key"));
    const auto with_filter_length = [&f](std::optional<std::int64_t> own, bool top_level) {
        Dictionary d = encrypt_dict(f);
        if (!top_level) std::erase_if(d.entries, [](const auto& e) { return e.first == "Length"; });
        Dictionary std_cf;
        std_cf.set("CFM", Object(Name{"V2"}));
        if (own) std_cf.set("Length", Object(*own));
        Dictionary cf;
        cf.set("StdCF", Object(std::move(std_cf)));
        d.set("CF", Object(std::move(cf)));
        return d;
    };
    for (const auto& [own, top_level] : {std::pair<std::optional<std::int64_t>, bool>{16, false},
                                         {128, false},
                                         {std::nullopt, false},
                                         {16, true}}) {
        SCOPED_TRACE(own.value_or(0));
        auto dec = decryptor(open(with_filter_length(own, top_level), f, "user-pw"));
        ASSERT_TRUE(dec.has_value());
        EXPECT_EQ(dec->key, key);
    }
    EXPECT_EQ(error(open(with_filter_length(5, true), f, "user-pw")), kWrongPassword);
}

TEST(FromEncrypt, UnencryptedMetadataEntersTheKey) {
    // qpdf --cleartext-metadata writes /EncryptMetadata false, and its key
    // hashes four 0xFF bytes more (checked against qpdf's key above); the
    // flag read as true loses the password.
    const Fixture f = load_fixture("r4-aes-128-clear-metadata");
    ASSERT_EQ(f.at("EncryptMetadata"), "false");
    Dictionary d = encrypt_dict(f);
    d.set("EncryptMetadata", Object(true));
    EXPECT_EQ(error(open(d, f, "user-pw")), kWrongPassword);
    // Revision 3 never hashes the flag.
    const Fixture f3 = load_fixture("r3-rc4-128");
    Dictionary d3 = encrypt_dict(f3);
    d3.set("EncryptMetadata", Object(false));
    auto dec = decryptor(open(d3, f3, "user-pw"));
    ASSERT_TRUE(dec.has_value());
    EXPECT_EQ(dec->key, from_hex(f3.at("user_key")));
}

TEST(FromEncrypt, MethodFromVAndStdCF) {
    // On the SHA-2 path, whose key does not depend on V or the crypt filter.
    const Fixture f = load_fixture("r6-aes-256");
    auto with_cf = [](Object cfm) {
        Dictionary std_cf;
        std_cf.set("CFM", std::move(cfm));
        Dictionary cf;
        cf.set("StdCF", Object(std::move(std_cf)));
        return cf;
    };
    auto as_stream = [](Dictionary d) {
        Stream s;
        s.dict = std::move(d);
        return Object(std::move(s));
    };
    struct Case {
        const char* what;
        Object v;
        std::optional<Object> cf;
        CryptMethod expected;
    };
    Dictionary std_cf_stream;
    {
        Dictionary inner;
        inner.set("CFM", Object(Name{"AESV2"}));
        std_cf_stream.set("StdCF", as_stream(inner));
    }
    Dictionary other_filter;
    other_filter.set("MyCF", Object(with_cf(Object(Name{"AESV2"}))));
    const Case cases[] = {
        {"V4 AESV2", Object(4), Object(with_cf(Object(Name{"AESV2"}))), CryptMethod::Aes128},
        {"V4 AESV3", Object(4), Object(with_cf(Object(Name{"AESV3"}))), CryptMethod::Aes256},
        {"V4 None", Object(4), Object(with_cf(Object(Name{"None"}))), CryptMethod::Rc4},
        {"V4 V2", Object(4), Object(with_cf(Object(Name{"V2"}))), CryptMethod::Rc4},
        {"V4 CFM string", Object(4), Object(with_cf(Object(String{bytes_of("AESV2")}))),
         CryptMethod::Rc4},
        {"V4 no CF", Object(4), std::nullopt, CryptMethod::Rc4},
        {"V4 CF not dict", Object(4), Object(Name{"StdCF"}), CryptMethod::Rc4},
        {"V4 CF without StdCF", Object(4), Object(other_filter), CryptMethod::Rc4},
        {"V4 CF as stream", Object(4), as_stream(with_cf(Object(Name{"AESV2"}))),
         CryptMethod::Aes128},
        {"V4 StdCF as stream", Object(4), Object(std_cf_stream), CryptMethod::Aes128},
        {"V5 ignores CF", Object(5), Object(with_cf(Object(Name{"V2"}))), CryptMethod::Aes256},
        {"V2 ignores CF", Object(2), Object(with_cf(Object(Name{"AESV2"}))), CryptMethod::Rc4},
        {"V real", Object(4.0), Object(with_cf(Object(Name{"AESV2"}))), CryptMethod::Rc4},
        {"no V", Object(Null{}), Object(with_cf(Object(Name{"AESV2"}))), CryptMethod::Rc4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Dictionary d = encrypt_dict(f);
        std::erase_if(d.entries, [](const auto& e) { return e.first == "CF" || e.first == "V"; });
        if (!c.v.is_null()) d.set("V", c.v);
        if (c.cf) d.set("CF", *c.cf);
        auto dec = decryptor(open(d, f, "user-pw"));
        ASSERT_TRUE(dec.has_value());
        EXPECT_EQ(dec->method, c.expected);
        EXPECT_EQ(dec->key, from_hex(f.at("user_key")));
    }
}

TEST(FromEncrypt, RevisionAloneSelectsTheKeyAlgorithm) {
    // R 6 on a V 2 dictionary: the SHA-2 path, with RC4 as the method.
    const Fixture f6 = load_fixture("r6-aes-256");
    Dictionary d6 = encrypt_dict(f6);
    d6.set("V", Object(2));
    d6.set("Length", Object(0));  // not read on the SHA-2 path
    auto dec6 = decryptor(open(d6, f6, "user-pw"));
    ASSERT_TRUE(dec6.has_value());
    EXPECT_EQ(dec6->method, CryptMethod::Rc4);
    EXPECT_EQ(dec6->key, from_hex(f6.at("user_key")));
}

// ---------------------------------------------------------------- MD5 path

TEST(FromEncrypt, ComparesOnlyFirst16BytesOfU) {
    // The owner password shows the check: it yields the file key only when
    // the user password recovered from O validates against U, and else the
    // key of the owner password taken as a user password.
    for (const char* name : {"r2-rc4-40", "r3-rc4-128"}) {
        SCOPED_TRACE(name);
        const Fixture f = load_fixture(name);
        const Bytes user_key = from_hex(f.at("user_key"));
        const Bytes u = from_hex(f.at("U"));
        ASSERT_EQ(u.size(), 32u);
        struct Case {
            const char* what;
            Bytes u;
            bool validates;
        };
        Bytes tail = u;
        for (std::size_t i = 16; i < tail.size(); ++i) tail[i] ^= 0x5A;
        Bytes head = u;
        head[15] ^= 1;
        const Case cases[] = {
            {"as written", u, true},
            {"bytes past 16 changed", tail, true},
            {"byte 16 changed", head, false},
            {"15 bytes", Bytes(u.begin(), u.begin() + 15), false},
            {"exactly 16 bytes", Bytes(u.begin(), u.begin() + 16), true},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            Dictionary d = encrypt_dict(f);
            d.set("U", Object(String{c.u}));
            // The owner password only yields the file key if the user
            // password it recovers validates.
            auto opened = open(d, f, "owner-pw");
            if (c.validates) {
                auto dec = decryptor(opened);
                ASSERT_TRUE(dec.has_value());
                EXPECT_EQ(dec->key, user_key);
            } else {
                EXPECT_EQ(error(opened), kWrongPassword);
            }
        }
    }
}

TEST(FromEncrypt, PasswordsCutAt32Bytes) {
    // Revisions 2-4 pad or cut every password to 32 bytes before hashing:
    // anything after the 32nd byte does not matter, for either password.
    const Fixture f = load_fixture("r3-rc4-128-long");
    ASSERT_GT(f.at("user_pw").size(), 32u);
    ASSERT_GT(f.at("owner_pw").size(), 32u);
    const Dictionary d = encrypt_dict(f);
    const Bytes key = from_hex(f.at("user_key"));
    for (const char* who : {"user_pw", "owner_pw"}) {
        SCOPED_TRACE(who);
        const std::string pw = f.at(who);
        auto dec = decryptor(open(d, f, pw.substr(0, 32) + "anything else"));
        ASSERT_TRUE(dec.has_value());
        EXPECT_EQ(dec->key, key);
        EXPECT_EQ(error(open(d, f, pw.substr(0, 31))), kWrongPassword);
    }
}

// ---------------------------------------------------------------- SHA-2 path

TEST(FromEncrypt, Revision5AcceptsTheSingleSha256Check) {
    // qpdf writes revision 5 with the single SHA-256 password check that
    // revision 5 producers used before the hardened hash; the fixture is such
    // a file, and its passwords validate (the key test above checks them).
    const Fixture f = load_fixture("r5-aes-256");
    ASSERT_EQ(f.at("R"), "5");
    const Bytes u = from_hex(f.at("U"));
    Bytes seed = bytes_of(f.at("user_pw"));
    seed.insert(seed.end(), u.begin() + 32, u.begin() + 40);
    Libcrypto crypto;
    ASSERT_EQ(sha256_of(crypto, seed), Bytes(u.begin(), u.begin() + 32));
    // The single-hash check is kept to revision 5: the same dictionary
    // marked revision 6 does not open.
    Dictionary d = encrypt_dict(f);
    d.set("R", Object(6));
    EXPECT_EQ(error(open(d, f, f.at("user_pw"))), kWrongPassword);
    EXPECT_EQ(error(open(d, f, f.at("owner_pw"))), kWrongPassword);
}

TEST(FromEncrypt, Sha2PathRefusals) {
    const Fixture f = load_fixture("r6-aes-256");
    struct Case {
        const char* what;
        const char* password;
        void (*mutate)(Dictionary&);
        bool opens;
        bool empty_key;
    };
    const Case cases[] = {
        {"U of 32 bytes", "user-pw",
         [](Dictionary& d) { d.get("U")->as_string()->bytes.resize(32); }, false, false},
        {"U of 47 bytes, owner", "owner-pw",
         [](Dictionary& d) { d.get("U")->as_string()->bytes.resize(47); }, false, false},
        {"O of 47 bytes, owner", "owner-pw",
         [](Dictionary& d) { d.get("O")->as_string()->bytes.resize(47); }, false, false},
        {"O of 47 bytes, user", "user-pw",
         [](Dictionary& d) { d.get("O")->as_string()->bytes.resize(47); }, true, false},
        {"U hash changed", "user-pw",
         [](Dictionary& d) { d.get("U")->as_string()->bytes[31] ^= 1; }, false, false},
        {"UE missing", "user-pw",
         [](Dictionary& d) {
             std::erase_if(d.entries, [](const auto& e) { return e.first == "UE"; });
         },
         true, true},
        {"UE of 31 bytes", "user-pw",
         [](Dictionary& d) { d.get("UE")->as_string()->bytes.resize(31); }, true, true},
        {"OE as name", "owner-pw", [](Dictionary& d) { d.set("OE", Object(Name{"x"})); }, true,
         true},
        {"U extra bytes", "user-pw",
         [](Dictionary& d) { d.get("U")->as_string()->bytes.push_back(7); }, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Dictionary d = encrypt_dict(f);
        c.mutate(d);
        auto opened = open(d, f, c.password);
        if (!c.opens) {
            EXPECT_EQ(error(opened), kWrongPassword);
            continue;
        }
        auto dec = decryptor(opened);
        ASSERT_TRUE(dec.has_value());
        if (c.empty_key) {
            EXPECT_TRUE(dec->key.empty());
        } else {
            EXPECT_EQ(dec->key, from_hex(f.at("user_key")));
        }
    }
}

TEST(FromEncrypt, Sha2PasswordIsUsedWhole) {
    // No truncation at 127 bytes: a longer password that starts with the
    // real one does not validate.
    const Fixture f = load_fixture("r6-aes-256");
    std::string pw = "user-pw" + std::string(200, 'x');
    EXPECT_EQ(error(open(encrypt_dict(f), f, pw)), kWrongPassword);
    EXPECT_EQ(error(open(encrypt_dict(f), f, "user-p")), kWrongPassword);
    EXPECT_EQ(error(open(encrypt_dict(f), f, "")), kPasswordRequired);
}

TEST(Aes256CbcNopad, RejectsWrongSizesAndKeepsPadding) {
    const Bytes key(32, 0x42);
    const Bytes zero_iv(16, 0);
    Bytes plain(32);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i);
    Bytes cipher = aes_encrypt(key, zero_iv, plain);
    cipher.erase(cipher.begin(), cipher.begin() + 16);  // zero IV is implicit
    Libcrypto crypto;
    EXPECT_EQ(aes256_cbc_nopad(crypto, key, cipher), plain);  // last byte 31: no padding removed
    EXPECT_TRUE(aes256_cbc_nopad(crypto, ByteView(key).first(31), cipher).empty());
    EXPECT_TRUE(aes256_cbc_nopad(crypto, key, ByteView(cipher).first(31)).empty());
    EXPECT_TRUE(aes256_cbc_nopad(crypto, key, {}).empty());
    // A refusal leaves the contexts fit for the next call.
    EXPECT_EQ(aes256_cbc_nopad(crypto, key, cipher), plain);
}

// ---------------------------------------------------------------- Libcrypto

// One Libcrypto serves a document's every digest and cipher, switching
// between algorithms and directions; each result must be what a fresh
// one-shot libcrypto call gives.
TEST(Libcrypto, ReusedContextsMatchOneShotCalls) {
    std::mt19937 rng(20240611);
    auto random_bytes = [&](std::size_t n) {
        Bytes b(n);
        for (auto& x : b) x = static_cast<std::uint8_t>(rng());
        return b;
    };
    const std::pair<DigestKind, const EVP_MD*> digests[] = {
        {DigestKind::Md5, EVP_md5()},
        {DigestKind::Sha256, EVP_sha256()},
        {DigestKind::Sha384, EVP_sha384()},
        {DigestKind::Sha512, EVP_sha512()},
    };
    Libcrypto crypto;
    Bytes out;
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const std::size_t size = rng() % 300;
        const Bytes data = random_bytes(size);
        if (rng() % 2 == 0) {
            const auto& [kind, md] = digests[rng() % 4];
            Bytes expected(EVP_MAX_MD_SIZE);
            unsigned n = 0;
            ASSERT_EQ(EVP_Digest(data.data(), data.size(), expected.data(), &n, md, nullptr), 1);
            expected.resize(n);
            ASSERT_TRUE(crypto.digest(kind, data, out));
            EXPECT_EQ(out, expected);
            continue;
        }
        const bool aes256 = rng() % 2 == 0;
        const Bytes key = random_bytes(aes256 ? 32 : 16);
        const Bytes iv = random_bytes(16);
        const Bytes plain = random_bytes(16 * (1 + size / 16));
        const AesKind kind = aes256 ? AesKind::Aes256Cbc : AesKind::Aes128Cbc;
        Bytes cipher = aes_encrypt(key, iv, plain);
        cipher.erase(cipher.begin(), cipher.begin() + 16);
        if (rng() % 2 == 0) {
            ASSERT_TRUE(crypto.aes_cbc(kind, true, key, iv, plain, out));
            EXPECT_EQ(out, cipher);
        } else {
            ASSERT_TRUE(crypto.aes_cbc(kind, false, key, iv, cipher, out));
            EXPECT_EQ(out, plain);
        }
    }
}

TEST(Libcrypto, AesRefusesWrongSizesAndRecovers) {
    const Bytes key128(16, 1);
    const Bytes key256(32, 2);
    const Bytes iv(16, 3);
    const Bytes block(32, 4);
    const struct {
        const char* what;
        AesKind kind;
        ByteView key;
        ByteView iv;
        ByteView data;
    } refused[] = {
        {"256-bit key for AES-128", AesKind::Aes128Cbc, key256, iv, block},
        {"128-bit key for AES-256", AesKind::Aes256Cbc, key128, iv, block},
        {"short IV", AesKind::Aes128Cbc, key128, ByteView(iv).first(15), block},
        {"partial block", AesKind::Aes256Cbc, key256, iv, ByteView(block).first(31)},
        {"no data", AesKind::Aes128Cbc, key128, iv, {}},
    };
    Libcrypto crypto;
    Bytes expected;
    ASSERT_TRUE(crypto.aes_cbc(AesKind::Aes128Cbc, false, key128, iv, block, expected));
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        Bytes out(5, 9);
        EXPECT_FALSE(crypto.aes_cbc(c.kind, false, c.key, c.iv, c.data, out));
        EXPECT_TRUE(out.empty());
        // The context still decrypts as before the refusal.
        ASSERT_TRUE(crypto.aes_cbc(AesKind::Aes128Cbc, false, key128, iv, block, out));
        EXPECT_EQ(out, expected);
    }
}

TEST(Decryptor, CopyDecryptsLikeTheOriginal) {
    const Bytes key(32, 0x5A);
    const Bytes iv(16, 0x0F);
    const Bytes plain = bytes_of("sixteen bytes!!\x01");
    const Bytes cipher = aes_encrypt(key, iv, plain);
    Decryptor original{key, CryptMethod::Aes256};
    ASSERT_EQ(original.decrypt_bytes(1, 0, cipher), bytes_of("sixteen bytes!!"));
    const Decryptor copy = original;  // contexts of its own, made on first use
    EXPECT_EQ(copy.decrypt_bytes(1, 0, cipher), bytes_of("sixteen bytes!!"));
    Decryptor assigned{Bytes(16, 1), CryptMethod::Rc4};
    assigned = original;
    EXPECT_EQ(assigned.decrypt_bytes(1, 0, cipher), bytes_of("sixteen bytes!!"));
    EXPECT_EQ(original.decrypt_bytes(1, 0, cipher), bytes_of("sixteen bytes!!"));
}

// ---------------------------------------------------------------- objects

TEST(ObjectKey, LengthIsFileKeyPlus5UpTo16) {
    const struct {
        std::size_t file_key;
        std::size_t object_key;
    } cases[] = {{0, 5}, {1, 6}, {5, 10}, {10, 15}, {11, 16}, {16, 16}, {32, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file_key);
        const Bytes key(c.file_key, 0xA5);
        Libcrypto crypto;
        EXPECT_EQ(Decryptor::object_key(crypto, key, 7, 0, false).size(), c.object_key);
        EXPECT_EQ(Decryptor::object_key(crypto, key, 7, 0, true).size(), c.object_key);
    }
    const Bytes key = from_hex("0123456789abcdef0123456789abcdef");
    Libcrypto crypto;
    EXPECT_EQ(Decryptor::object_key(crypto, key, 0x123456, 0x789A, true),
              aes128_object_key(key, 0x123456, 0x789A));
    // Only the low 3 bytes of the object number count.
    EXPECT_EQ(Decryptor::object_key(crypto, key, 0xFF123456, 2, false),
              Decryptor::object_key(crypto, key, 0x00123456, 2, false));
    EXPECT_NE(Decryptor::object_key(crypto, key, 5, 0, false),
              Decryptor::object_key(crypto, key, 5, 1, false));
    EXPECT_NE(Decryptor::object_key(crypto, key, 5, 0, false),
              Decryptor::object_key(crypto, key, 5, 0, true));
}

TEST(DecryptBytes, Aes128GenerationEntersTheKey) {
    const Bytes file_key = from_hex("efaf5f7e66290b9a3b00353c2825f194");
    const Decryptor dec{file_key, CryptMethod::Aes128};
    const Bytes plain = bytes_of("generation one!\x01");  // one byte of padding
    const Bytes iv(16, 0x11);
    const Bytes cipher = aes_encrypt(aes128_object_key(file_key, 12, 1), iv, plain);
    EXPECT_EQ(dec.decrypt_bytes(12, 1, cipher), bytes_of("generation one!"));
    EXPECT_NE(dec.decrypt_bytes(12, 0, cipher), bytes_of("generation one!"));
}

TEST(DecryptBytes, AesLengthAndPaddingRules) {
    const Bytes key256(32, 0x33);
    const Bytes key128_file(16, 0x44);
    const Bytes iv = from_hex("000102030405060708090a0b0c0d0e0f");
    auto block = [](std::string_view text, std::uint8_t fill, std::size_t fill_count) {
        Bytes b = bytes_of(text);
        b.insert(b.end(), fill_count, fill);
        return b;
    };
    struct Case {
        const char* what;
        Bytes plain;                    // encrypted after the IV (whole blocks)
        std::optional<Bytes> expected;  // nothing: the input comes back unchanged
    };
    const Case cases[] = {
        {"one block of padding only", Bytes(16, 16), Bytes{}},
        {"pad 1", block("fifteen bytes..", 1, 1), bytes_of("fifteen bytes..")},
        {"pad 4 over two blocks", block("twenty-eight bytes of text..", 4, 4),
         bytes_of("twenty-eight bytes of text..")},
        {"last byte 0", block("fifteen bytes..", 0, 1), std::nullopt},
        {"last byte 17", block("fifteen bytes..", 17, 1), std::nullopt},
        {"inconsistent pad", block("thirteen bytexy", 3, 1), std::nullopt},
        {"pad bytes differ",
         [] {
             Bytes b(16, 4);
             b[12] = 5;
             return b;
         }(),
         std::nullopt},
    };
    for (CryptMethod m : {CryptMethod::Aes128, CryptMethod::Aes256}) {
        const Decryptor dec{m == CryptMethod::Aes128 ? key128_file : key256, m};
        const Bytes aes_key =
            m == CryptMethod::Aes128 ? aes128_object_key(key128_file, 3, 0) : key256;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.what);
            ASSERT_EQ(c.plain.size() % 16, 0u);
            const Bytes cipher = aes_encrypt(aes_key, iv, c.plain);
            EXPECT_EQ(dec.decrypt_bytes(3, 0, cipher), c.expected.value_or(cipher));
        }
        // Impossible lengths come back as they were.
        for (std::size_t size : {0u, 1u, 15u, 16u, 20u, 33u, 47u}) {
            SCOPED_TRACE(size);
            Bytes data(size);
            for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
            EXPECT_EQ(dec.decrypt_bytes(3, 0, data), data);
        }
    }
    // Keys of the wrong length leave the data undecrypted.
    const Bytes plain(16, 16);
    const Bytes c128 = aes_encrypt(aes128_object_key(Bytes(10, 1), 3, 0), iv, plain);
    EXPECT_EQ((Decryptor{Bytes(10, 1), CryptMethod::Aes128}.decrypt_bytes(3, 0, c128)), c128);
    const Bytes c256 = aes_encrypt(key256, iv, plain);
    EXPECT_EQ((Decryptor{Bytes(31, 0x33), CryptMethod::Aes256}.decrypt_bytes(3, 0, c256)), c256);
    EXPECT_EQ((Decryptor{Bytes{}, CryptMethod::Aes256}.decrypt_bytes(3, 0, c256)), c256);
    // AES-256 uses the file key itself: the object numbers do not matter.
    EXPECT_EQ((Decryptor{key256, CryptMethod::Aes256}.decrypt_bytes(99, 7, c256)), Bytes{});
}

TEST(DecryptObject, WalksEveryVariant) {
    const Decryptor dec{from_hex("1ba2071d31"), CryptMethod::Rc4};
    Libcrypto crypto;
    const Bytes secret = bytes_of("secret");
    const Bytes enc_9_2 = rc4(Decryptor::object_key(crypto, dec.key, 9, 2, false), secret);
    ASSERT_EQ(Decryptor::object_key(crypto, dec.key, 9, 2, false).size(), 10u);

    Dictionary d;
    d.set("S", Object(String{enc_9_2}));
    d.set("N", Object(Name{"Name"}));
    d.set("I", Object(42));
    d.set("F", Object(1.5));
    d.set("B", Object(true));
    d.set("Z", Object(Null{}));
    d.set("R", Object(Reference{4, 0}));
    d.set("Deep", Object(Array{Object(Array{Object(Array{Object(String{enc_9_2})})})}));
    Stream st;
    st.dict.set("Nested", Object(String{enc_9_2}));
    st.data = enc_9_2;
    d.set("St", Object(st));

    const Object out = dec.decrypt_object(9, 2, Object(d));
    const Dictionary* od = out.as_dict();
    ASSERT_NE(od, nullptr);
    ASSERT_EQ(od->size(), d.size());
    EXPECT_EQ(od->get("S")->as_string()->bytes, secret);
    for (const char* key : {"N", "I", "F", "B", "Z", "R"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(*od->get(key), *d.get(key));
    }
    EXPECT_EQ(
        od->get("Deep")->as_array()->at(0).as_array()->at(0).as_array()->at(0).as_string()->bytes,
        secret);
    EXPECT_EQ(od->get("St")->as_stream()->data, secret);
    EXPECT_EQ(od->get("St")->as_stream()->dict.get("Nested")->as_string()->bytes, secret);
    for (std::size_t i = 0; i < d.size(); ++i) EXPECT_EQ(od->entries[i].first, d.entries[i].first);

    // Top-level variants other than containers.
    EXPECT_EQ(dec.decrypt_object(9, 2, Object(String{enc_9_2})), Object(String{secret}));
    EXPECT_EQ(dec.decrypt_object(9, 2, Object(Name{"x"})), Object(Name{"x"}));
    EXPECT_EQ(dec.decrypt_object(9, 2, Object(Array{Object(String{enc_9_2}), Object(3)})),
              Object(Array{Object(String{secret}), Object(3)}));
    // The generation enters the key.
    EXPECT_NE(dec.decrypt_object(9, 0, Object(String{enc_9_2})), Object(String{secret}));
}

TEST(DecryptDict, LaterDuplicateTakesFirstPosition) {
    const Decryptor dec{from_hex("0011223344"), CryptMethod::Rc4};
    Libcrypto crypto;
    auto enc = [&](std::string_view s) {
        return Object(
            String{rc4(Decryptor::object_key(crypto, dec.key, 1, 0, false), as_bytes(s))});
    };
    Dictionary d;
    d.entries.emplace_back("A", enc("first"));
    d.entries.emplace_back("B", Object(Name{"b"}));
    d.entries.emplace_back("A", enc("second"));
    d.entries.emplace_back("C", Object(1));
    d.entries.emplace_back("B", enc("third"));
    const Dictionary out = dec.decrypt_dict(1, 0, d);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out.entries[0].first, "A");
    EXPECT_EQ(out.entries[0].second, Object(String{bytes_of("second")}));
    EXPECT_EQ(out.entries[1].first, "B");
    EXPECT_EQ(out.entries[1].second, Object(String{bytes_of("third")}));
    EXPECT_EQ(out.entries[2].first, "C");
}

TEST(HashR6, MatchesQpdfOverManyPasswords) {
    // Each password ends the hash rounds at a different point; together they
    // cover the boundaries of the stop rule (round 63, last byte = j - 31).
    std::ifstream in(std::string(VELLOX_SOURCE_DIR) +
                     "/core/tests/fixtures/crypt/r6-many-passwords.txt");
    std::string pw, u_hex, ue_hex, key_hex;
    int lines = 0;
    // One set of contexts for every password, as one document's checks share
    // theirs: nothing of one hash may leak into the next.
    Libcrypto crypto;
    while (in >> pw >> u_hex >> ue_hex >> key_hex) {
        SCOPED_TRACE(pw);
        ++lines;
        const Bytes u = from_hex(u_hex);
        ASSERT_EQ(u.size(), 48u);
        EXPECT_EQ(hash_r6(crypto, as_bytes(pw), ByteView(u).subspan(32, 8), {}),
                  Bytes(u.begin(), u.begin() + 32));
        EXPECT_EQ(
            aes256_cbc_nopad(crypto, hash_r6(crypto, as_bytes(pw), ByteView(u).subspan(40, 8), {}),
                             from_hex(ue_hex)),
            from_hex(key_hex));
    }
    EXPECT_EQ(lines, 120);
}
