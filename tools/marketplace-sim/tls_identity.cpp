#include "marketplace-sim/tls_identity.hpp"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace vq::sim {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

bool add_extension(X509* subject, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, subject, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) return false;
    const bool added = X509_add_ext(subject, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

Cert make_certificate(EVP_PKEY* key, long serial, const char* commonName, X509* issuer,
                      EVP_PKEY* issuerKey, bool authority) {
    Cert cert(X509_new(), X509_free);
    if (!cert) return cert;
    X509* c = cert.get();
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), 3650L * 24 * 3600);
    X509_set_pubkey(c, key);
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("marketplace-sim"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* signer = issuer ? issuer : c;
    X509_set_issuer_name(c, X509_get_subject_name(signer));
    bool ok = add_extension(c, signer, NID_subject_key_identifier, "hash");
    if (authority) {
        ok = ok && add_extension(c, signer, NID_basic_constraints, "critical,CA:TRUE") &&
             add_extension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && add_extension(c, signer, NID_authority_key_identifier, "keyid:always") &&
             add_extension(c, signer, NID_basic_constraints, "critical,CA:FALSE") &&
             add_extension(c, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
             add_extension(c, signer, NID_ext_key_usage, "serverAuth") &&
             add_extension(c, signer, NID_subject_alt_name,
                           "DNS:gw.localhost,DNS:auth.localhost,DNS:localhost,IP:127.0.0.1");
    }
    if (!ok || X509_sign(c, issuerKey ? issuerKey : key, EVP_sha256()) == 0) cert.reset();
    return cert;
}

bool write_pem(const std::string& path, X509* cert) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool written = PEM_write_X509(f, cert) == 1;
    return std::fclose(f) == 0 && written;
}

}  // namespace

TlsIdentity make_tls_identity(const std::string& folder) {
    TlsIdentity identity;
    Key caKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Key serverKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!caKey || !serverKey) return identity;
    Cert ca = make_certificate(caKey.get(), 1, "marketplace-sim authority", nullptr, nullptr, true);
    if (!ca) return identity;
    Cert server = make_certificate(serverKey.get(), 2, "gw.localhost", ca.get(), caKey.get(), false);
    if (!server) return identity;
    const std::string caFile = folder + "/ca.pem";
    if (!write_pem(caFile, ca.get()) || !write_pem(folder + "/server.pem", server.get())) return identity;
    identity.certificate = std::move(server);
    identity.key = std::move(serverKey);
    identity.caFile = caFile;
    return identity;
}

}  // namespace vq::sim
