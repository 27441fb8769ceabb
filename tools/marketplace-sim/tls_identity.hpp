#pragma once
// A certificate for the stand-in's HTTPS port, made at start: an authority of its own
// ("ca.pem", what a client is told to trust) and the server's certificate signed by it for
// gw.localhost, auth.localhost, localhost and 127.0.0.1.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace vq::sim {

struct TlsIdentity {
    std::unique_ptr<X509, decltype(&X509_free)> certificate{nullptr, X509_free};
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{nullptr, EVP_PKEY_free};
    std::string caFile;  // <folder>/ca.pem
};

// Writes ca.pem and server.pem into folder; an empty certificate when anything fails.
TlsIdentity make_tls_identity(const std::string& folder);

}  // namespace vq::sim
