// pki/signer_details.h: what a recipient is shown about a certificate:
// names, serial number, thumbprints, validity and key, as plain UTF-8 text.
#pragma once

#include <ctime>
#include <string>

#include "pki/openssl_handles.h"

namespace brevick {

struct SignerDetails {
  std::string subject;    // RFC 2253 form, UTF-8: "CN=Signer,O=Example"
  std::string issuer;     // the same form
  std::string serial;     // uppercase hexadecimal, no separators
  std::string sha256;     // lowercase hexadecimal thumbprint of the DER certificate
  std::string sha1;       // the same with SHA-1
  std::string notBefore;  // "2026-01-31T12:00:00Z"
  std::string notAfter;
  std::string key;  // "RSA 2048", "EC 256", ...
};

// "2026-01-31T12:00:00Z"; empty when OpenSSL cannot read the time.
std::string Rfc3339Time(const ASN1_TIME* time);

// Never fails: a field OpenSSL cannot render is left empty.
SignerDetails DescribeCertificate(const X509* certificate);

// A name in the RFC 2253 form of SignerDetails; empty when it cannot be rendered.
std::string DistinguishedNameText(const X509_NAME* name);

// "YYYY-MM-DDTHH:MM:SSZ", the form of every time a recipient is shown.
std::string UtcTimeText(std::time_t time);

// The lowercase hexadecimal SHA-256 thumbprint of the DER certificate; empty
// when it cannot be computed.
std::string Sha256Thumbprint(const X509* certificate);

}  // namespace brevick
