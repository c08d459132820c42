// Digests, public keys and signature checks of amxml verify, on OpenSSL's libcrypto, behind the
// library's DigestSink and VerifySink interfaces. Only the tool links libcrypto.
#ifndef AMXML_CRYPTO_H
#define AMXML_CRYPTO_H

#include <ambrite/xml/foundation.h>
#include <ambrite/xml/streams.h>

#include <memory>
#include <string>

namespace amxml {

/// The digest functions the tool knows, by the names of their algorithms.
enum class Hash { SHA1, SHA224, SHA256, SHA384, SHA512 };

/// "SHA-1", "SHA-256", ...
const char* hashName(Hash hash);

/// A new digest of `hash`, owned by the caller.
Ambrite::XML::DigestSink* newDigestSink(Hash hash);

/// A public key read from a PEM file: a public key or an X.509 certificate. RSA keys of fewer
/// than 1024 bits and EC keys off the curves P-256, P-384 and P-521 are refused (ToolError).
class PublicKey {
public:
    enum Type { RSA, EC };

    /// Throws ToolError when the file cannot be read or holds no key the tool accepts.
    explicit PublicKey(const std::string& path);
    ~PublicKey();
    PublicKey(const PublicKey&) = delete;
    PublicKey& operator=(const PublicKey&) = delete;

    Type type() const { return type_; }
    const std::string& path() const { return path_; }

    /// A new sink, owned by the caller, whose verify() checks a signature of `hash` by this key
    /// over everything written: RSA PKCS#1 v1.5, or ECDSA with the signature given as r||s.
    Ambrite::XML::VerifySink* newVerifySink(Hash hash) const;

private:
    std::string path_;
    Type type_;
    void* key_;  // EVP_PKEY
};

}  // namespace amxml

#endif
