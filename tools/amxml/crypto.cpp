#include "crypto.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tool.h"

namespace amxml {

using Ambrite::XML::Block;

namespace {

const EVP_MD* md(Hash hash) {
    switch (hash) {
        case Hash::SHA1:
            return EVP_sha1();
        case Hash::SHA224:
            return EVP_sha224();
        case Hash::SHA256:
            return EVP_sha256();
        case Hash::SHA384:
            return EVP_sha384();
        case Hash::SHA512:
            break;
    }
    return EVP_sha512();
}

// The text of OpenSSL's latest error, which is then cleared.
std::string opensslError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "no key found";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

struct MdContext {
    MdContext() : context(EVP_MD_CTX_new()) {
        if (!context) throw ToolError{"cannot allocate a digest context"};
    }
    ~MdContext() { EVP_MD_CTX_free(context); }
    MdContext(const MdContext&) = delete;
    MdContext& operator=(const MdContext&) = delete;
    EVP_MD_CTX* context;
};

class EvpDigestSink : public Ambrite::XML::DigestSink {
public:
    explicit EvpDigestSink(Hash hash) {
        if (EVP_DigestInit_ex(context_.context, md(hash), nullptr) != 1) failed();
    }
    void write(const unsigned char* bytes, unsigned int count) override {
        if (count && EVP_DigestUpdate(context_.context, bytes, count) != 1) failed();
    }
    void close() override {}
    Block* digest() override {
        unsigned char value[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context_.context, value, &length) != 1) failed();
        return new Block(value, length, Block::Copy);
    }

private:
    [[noreturn]] static void failed() { throw ToolError{"digest failed: " + opensslError()}; }
    MdContext context_;
};

// XML-Signature writes an ECDSA signature as r and s, big-endian, each as long as the curve's
// order; OpenSSL reads the DER sequence of the two integers.
std::vector<unsigned char> ecdsaDer(const unsigned char* rs, unsigned int length) {
    std::vector<unsigned char> der;
    if (length == 0 || length % 2 != 0) return der;
    ECDSA_SIG* sig = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(rs, static_cast<int>(length / 2), nullptr);
    BIGNUM* s = BN_bin2bn(rs + length / 2, static_cast<int>(length / 2), nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig, r, s) != 1) {
        BN_free(r);
        BN_free(s);
        ECDSA_SIG_free(sig);
        throw ToolError{"cannot allocate an ECDSA signature"};
    }
    unsigned char* out = nullptr;
    int n = i2d_ECDSA_SIG(sig, &out);
    ECDSA_SIG_free(sig);
    if (n > 0) der.assign(out, out + n);
    OPENSSL_free(out);
    return der;
}

class EvpVerifySink : public Ambrite::XML::VerifySink {
public:
    EvpVerifySink(EVP_PKEY* key, PublicKey::Type type, Hash hash) : type_(type) {
        if (EVP_DigestVerifyInit(context_.context, nullptr, md(hash), nullptr, key) != 1) {
            throw ToolError{"cannot start a signature check: " + opensslError()};
        }
    }
    void write(const unsigned char* bytes, unsigned int count) override {
        if (count && EVP_DigestVerifyUpdate(context_.context, bytes, count) != 1) {
            throw ToolError{"signature check failed: " + opensslError()};
        }
    }
    void close() override {}
    bool verify(const Block* signature) override {
        std::vector<unsigned char> value(signature->data(),
                                         signature->data() + signature->length());
        if (type_ == PublicKey::EC) value = ecdsaDer(signature->data(), signature->length());
        const int ok = EVP_DigestVerifyFinal(context_.context, value.data(), value.size());
        ERR_clear_error();
        return ok == 1;
    }

private:
    PublicKey::Type type_;
    MdContext context_;
};

}  // namespace

const char* hashName(Hash hash) {
    static const char* const kNames[] = {"SHA-1", "SHA-224", "SHA-256", "SHA-384", "SHA-512"};
    return kNames[static_cast<int>(hash)];
}

Ambrite::XML::DigestSink* newDigestSink(Hash hash) { return new EvpDigestSink(hash); }

PublicKey::PublicKey(const std::string& path) : path_(path), type_(RSA), key_(nullptr) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw ToolError{"cannot open " + path + ": " + std::strerror(errno)};
    EVP_PKEY* key = PEM_read_PUBKEY(file, nullptr, nullptr, nullptr);
    if (!key) {
        ERR_clear_error();
        std::rewind(file);
        if (X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr)) {
            key = X509_get_pubkey(certificate);
            X509_free(certificate);
        }
    }
    std::fclose(file);
    if (!key) throw ToolError{"no public key or certificate in " + path + ": " + opensslError()};
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> held(key, EVP_PKEY_free);
    if (EVP_PKEY_is_a(key, "RSA")) {
        const int bits = EVP_PKEY_get_bits(key);
        if (bits < 1024) {
            throw ToolError{"key " + path + ": RSA key of " + std::to_string(bits) +
                            " bits refused (at least 1024)"};
        }
        type_ = RSA;
    } else if (EVP_PKEY_is_a(key, "EC")) {
        char curve[64] = "";
        std::size_t length = 0;
        EVP_PKEY_get_group_name(key, curve, sizeof curve, &length);
        if (std::strcmp(curve, "prime256v1") != 0 && std::strcmp(curve, "secp384r1") != 0 &&
            std::strcmp(curve, "secp521r1") != 0) {
            throw ToolError{"key " + path + ": EC curve '" + curve +
                            "' refused (P-256, P-384 or P-521)"};
        }
        type_ = EC;
    } else {
        throw ToolError{"key " + path + ": not an RSA or EC key"};
    }
    key_ = held.release();
}

PublicKey::~PublicKey() { EVP_PKEY_free(static_cast<EVP_PKEY*>(key_)); }

Ambrite::XML::VerifySink* PublicKey::newVerifySink(Hash hash) const {
    return new EvpVerifySink(static_cast<EVP_PKEY*>(key_), type_, hash);
}

}  // namespace amxml
