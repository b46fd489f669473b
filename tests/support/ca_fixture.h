// tests/support/ca_fixture.h: a small PKI made with the openssl command, as
// a release team would run it: a signing CA and a time-stamp authority, each
// with `openssl ca` (index.txt, -revoke, -gencrl), signed messages with RFC
// 3161 tokens from `openssl ts -reply`, certificates revoked before and after
// signing, one that has expired since it signed, and an HTTP server on
// 127.0.0.1 that serves the CRLs. Made once per test process: it takes a few
// seconds, most of them waiting for a certificate to expire.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "pki/openssl_handles.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {

struct CaFixture {
  std::filesystem::path dir;
  // Anchors, PEM.
  std::string caRoot;   // CN=Brevick Test CA: issues every signer
  std::string tsaRoot;  // CN=Brevick Test TSA Root: issues the TSA certificates
  // CRLs, PEM unless said otherwise.
  std::string caCrl;         // the signing CA's, after every revocation
  std::string tsaCrl;        // the TSA root's, after the revoked TSA was revoked
  std::string bothCrls;      // caCrl and tsaCrl in one file
  std::string expiredCrl;    // the signing CA's, its nextUpdate passed
  std::string servedCrlUrl;  // caCrl as DER from the HTTP server
  // Signed messages (DER); "Ts" ones carry a token over their signature.
  std::string goodTs;          // a signer nobody revoked
  std::string good;            // the same signer, no token
  std::string revokedEarlyTs;  // signed after its certificate was revoked
  std::string revokedLateTs;   // revoked after the token was made
  std::string revokedLate;     // the same signer, no token
  std::string expiredTs;       // its signer's certificate expired after signing
  std::string expired;         // the same signer, no token
  std::string revokedTsaTs;    // good signer, token by a TSA revoked since
  std::string foreignTokenTs;  // a token over other bytes than the signature
  std::string fetchTs;         // its signer names servedCrlUrl as CRL distribution point
  std::string deadFetch;       // its signer names deadFetchUrl, where nobody listens
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
