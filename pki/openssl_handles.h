// pki/openssl_handles.h: owners for the OpenSSL objects that Brevick holds,
// so that every early return frees what was obtained before it.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace brevick {

struct X509Free {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct EvpPkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct EvpPkeyCtxFree {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct EvpMdFree {
  void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct EvpMdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct Pkcs7Free {
  void operator()(PKCS7* message) const { PKCS7_free(message); }
};
struct Pkcs7SignerInfoFree {
  void operator()(PKCS7_SIGNER_INFO* info) const { PKCS7_SIGNER_INFO_free(info); }
};
struct Pkcs12Free {
  void operator()(PKCS12* bundle) const { PKCS12_free(bundle); }
};
struct X509SigFree {
  void operator()(X509_SIG* sig) const { X509_SIG_free(sig); }
};
struct X509AlgorFree {
  void operator()(X509_ALGOR* alg) const { X509_ALGOR_free(alg); }
};
struct X509CrlFree {
  void operator()(X509_CRL* crl) const { X509_CRL_free(crl); }
};
struct X509StackFree {
  void operator()(STACK_OF(X509) * certs) const { sk_X509_pop_free(certs, X509_free); }
};
struct GeneralNamesFree {
  void operator()(GENERAL_NAMES* names) const { GENERAL_NAMES_free(names); }
};
struct BignumFree {
  void operator()(BIGNUM* number) const { BN_free(number); }
};
struct X509StoreFree {
  void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct X509StoreCtxFree {
  void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
// Frees the stack only: the CRLs on it are borrowed.
struct X509CrlStackFree {
  void operator()(STACK_OF(X509_CRL) * crls) const { sk_X509_CRL_free(crls); }
};
struct DistPointsFree {
  void operator()(CRL_DIST_POINTS* points) const { CRL_DIST_POINTS_free(points); }
};
struct Asn1EnumeratedFree {
  void operator()(ASN1_ENUMERATED* value) const { ASN1_ENUMERATED_free(value); }
};
struct Asn1GeneralizedTimeFree {
  void operator()(ASN1_GENERALIZEDTIME* value) const { ASN1_GENERALIZEDTIME_free(value); }
};
struct OpenSslBytesFree {
  void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};

using X509Ptr = std::unique_ptr<X509, X509Free>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxFree>;
using EvpMdPtr = std::unique_ptr<EVP_MD, EvpMdFree>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Pkcs7Free>;
using Pkcs7SignerInfoPtr = std::unique_ptr<PKCS7_SIGNER_INFO, Pkcs7SignerInfoFree>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, Pkcs12Free>;
using X509SigPtr = std::unique_ptr<X509_SIG, X509SigFree>;
using X509AlgorPtr = std::unique_ptr<X509_ALGOR, X509AlgorFree>;
using X509CrlPtr = std::unique_ptr<X509_CRL, X509CrlFree>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackFree>;
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, GeneralNamesFree>;
using BignumPtr = std::unique_ptr<BIGNUM, BignumFree>;
using X509StorePtr = std::unique_ptr<X509_STORE, X509StoreFree>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, X509StoreCtxFree>;
using X509CrlBorrowingStackPtr = std::unique_ptr<STACK_OF(X509_CRL), X509CrlStackFree>;
using DistPointsPtr = std::unique_ptr<CRL_DIST_POINTS, DistPointsFree>;
using Asn1EnumeratedPtr = std::unique_ptr<ASN1_ENUMERATED, Asn1EnumeratedFree>;
using Asn1GeneralizedTimePtr = std::unique_ptr<ASN1_GENERALIZEDTIME, Asn1GeneralizedTimeFree>;
using OpenSslBytesPtr = std::unique_ptr<unsigned char, OpenSslBytesFree>;

// Empties OpenSSL's thread error queue when it goes out of scope: failures
// leave pki/ and cms/ as result codes, and a stale entry must not be mistaken for
// the cause of a later, unrelated failure.
class OpenSslErrorScope {
 public:
  OpenSslErrorScope() = default;
  ~OpenSslErrorScope() { ERR_clear_error(); }
  OpenSslErrorScope(const OpenSslErrorScope&) = delete;
  OpenSslErrorScope& operator=(const OpenSslErrorScope&) = delete;
};

}  // namespace brevick
