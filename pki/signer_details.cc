// pki/signer_details.cc
#include "pki/signer_details.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>

#include <cstdio>
#include <ctime>

#include "base/hex_text.h"

namespace brevick {

std::string DistinguishedNameText(const X509_NAME* name) {
  // RFC 2253 order and escaping, but UTF-8 kept as it is instead of \XX.
  const BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || name == nullptr ||
      X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
    return {};
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string UtcTimeText(std::time_t time) {
  std::tm parts{};
  if (::gmtime_r(&time, &parts) == nullptr) return {};
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

namespace {

std::string SerialText(const ASN1_INTEGER* serial) {
  const std::unique_ptr<BIGNUM, decltype(&BN_free)> number(ASN1_INTEGER_to_BN(serial, nullptr),
                                                           BN_free);
  if (!number) return {};
  char* hex = BN_bn2hex(number.get());
  if (hex == nullptr) return {};
  std::string text(hex);
  OPENSSL_free(hex);
  return text;
}

std::string KeyText(const X509* certificate) {
  const EVP_PKEY* key = X509_get0_pubkey(certificate);
  if (key == nullptr) return {};
  const char* type = "unknown";
  switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA:
      type = "RSA";
      break;
    case EVP_PKEY_RSA_PSS:
      type = "RSA-PSS";
      break;
    case EVP_PKEY_EC:
      type = "EC";
      break;
    case EVP_PKEY_DSA:
      type = "DSA";
      break;
    case EVP_PKEY_ED25519:
      type = "Ed25519";
      break;
    case EVP_PKEY_ED448:
      type = "Ed448";
      break;
    default:
      break;
  }
  return std::string(type) + " " + std::to_string(EVP_PKEY_get_bits(key));
}

std::string Thumbprint(const X509* certificate, const EVP_MD* digest) {
  unsigned char bytes[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (X509_digest(certificate, digest, bytes, &size) != 1) return {};
  return HexText(std::span<const std::uint8_t>(bytes, size));
}

}  // namespace

std::string Sha256Thumbprint(const X509* certificate) {
  const OpenSslErrorScope errors;
  return Thumbprint(certificate, EVP_sha256());
}

std::string Rfc3339Time(const ASN1_TIME* time) {
  std::tm parts{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

SignerDetails DescribeCertificate(const X509* certificate) {
  const OpenSslErrorScope errors;
  SignerDetails details;
  if (certificate == nullptr) return details;
  details.subject = DistinguishedNameText(X509_get_subject_name(certificate));
  details.issuer = DistinguishedNameText(X509_get_issuer_name(certificate));
  details.serial = SerialText(X509_get0_serialNumber(certificate));
  details.sha256 = Thumbprint(certificate, EVP_sha256());
  details.sha1 = Thumbprint(certificate, EVP_sha1());
  details.notBefore = Rfc3339Time(X509_get0_notBefore(certificate));
  details.notAfter = Rfc3339Time(X509_get0_notAfter(certificate));
  details.key = KeyText(certificate);
  return details;
}

}  // namespace brevick
