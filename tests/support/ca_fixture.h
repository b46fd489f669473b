// tests/support/ca_fixture.h: certificate authorities kept the way a release
// team keeps them, in an `openssl ca` directory (index.txt, -revoke,
// -gencrl), and the PKI made with them once per test process: a signing CA
// beside the shared TSA's root, signed messages with RFC 3161 tokens from
// `openssl ts -reply`, certificates revoked before and after signing, one
// that has expired since it signed, and CRLs, one served over HTTP on
// 127.0.0.1. It takes a few seconds, most of them waiting for a certificate
// to expire.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>

#include "pki/openssl_handles.h"
#include "tests/support/signing_certs.h"

namespace brevick::testing {

// One `openssl ca` directory with a self-signed root of TestRsaKey(keyIndex).
// It issues in-process, every certificate to TestRsaKey(0) (leaf.key);
// revocations and CRLs are the openssl command's.
class TestAuthority {
 public:
  TestAuthority(const std::filesystem::path& directory, const std::string& subject, int keyIndex);

  // A file of its directory: ca.pem (the root), leaf.key, NAME.pem, ...
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  // Writes NAME.pem, for CN=`subject` with `spec`'s extensions and life;
  // its path.
  std::string Issue(const std::string& name, const std::string& subject, CertSpec spec);
  // `how`: "-crl_reason superseded", "-crl_compromise TIME", ...
  void Revoke(const std::string& name, const std::string& how) const;
  std::string GenerateCrl(const std::string& name, const std::string& extra = "") const;

 private:
  std::filesystem::path dir;
  X509Ptr root;
  int keyIndex;
  long serial = 0x1000;
};

// A time-stamping certificate's extensions.
CertSpec TsaSpec();

struct CaFixture {
  std::filesystem::path dir;
  // Anchors, PEM.
  std::string caRoot;   // CN=Brevick Test CA: issues every signer
  std::string tsaRoot;  // CN=Brevick Test TSA Root: issues the TSA certificates
  // CRLs, PEM unless said otherwise.
  std::string caCrl;       // the signing CA's, after every revocation
  std::string tsaCrl;      // the TSA root's, after the revoked TSA was revoked
  std::string bothCrls;    // caCrl and tsaCrl in one file
  std::string expiredCrl;  // the signing CA's, its nextUpdate passed
  // A signed message (DER); those named "...-ts" carry a token over their
  // signature. "good": a signer nobody revoked; "revoked-early": signed after
  // its certificate was revoked; "revoked-late": revoked after the token was
  // made; "expired": its signer's certificate expired after signing;
  // "revoked-tsa-ts": the good signer, its token by a TSA revoked since;
  // "foreign-token-ts": a token over other bytes than the signature;
  // "fetch-ts": its signer names the served CRL (caCrl as DER);
  // "dead-fetch": its signer names deadFetchUrl, where nobody listens.
  std::string Message(const std::string& name) const { return (dir / (name + ".p7")).string(); }
  std::string deadFetchUrl;
  std::time_t revokedEarlyAt = 0;
  std::time_t revokedLateAt = 0;
};

// The fixture, made on first use; fails the test (and every later one that
// asks) when the openssl command is missing or refuses.
const CaFixture& SharedCaFixture();

// "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcText(std::time_t time);

}  // namespace brevick::testing
