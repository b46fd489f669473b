// Timestamps and revocation on a real PKI: certificates from `openssl ca`,
// CRLs from -gencrl, tokens from `openssl ts -reply`.
#include <gtest/gtest.h>

#include "tests/support/ca_fixture.h"
#include "verify/verify.h"

namespace brevick::testing {
namespace {

constexpr int kUntrusted = static_cast<int>(VerifyFailure::kUntrusted);

TEST(RevocationTest, VerdictsOnARealPki) {
  const CaFixture& f = SharedCaFixture();
  const std::string lateAt = UtcText(f.revokedLateAt);
  const std::vector<std::string> ca = {f.caRoot};
  // clang-format off
  const struct {
    const char* name;
    std::string message;
    std::vector<std::string> trust;
    std::vector<std::string> crls;
    bool everyCertificate;
    int exitCode;
    std::string revocation;  // the text line's verdict
  } cases[] = {
    {"revoked, no timestamp", f.revokedLate, ca, {f.caCrl}, false, kUntrusted, "revoked on " + lateAt + " (superseded)"},
    {"not revoked, CRL of the issuer among two", f.good, ca, {f.bothCrls}, false, 0, "not revoked (2 CRLs)"},
    {"CRL of another issuer", f.good, ca, {f.otherCrl}, false, kUntrusted, "unknown: no CRL from CN=Brevick Test CA for CN=Good Signer; given: " + f.otherCrl + " from CN=Brevick Other CA"},
    {"expired CRL", f.good, ca, {f.expiredCrl}, false, kUntrusted, "unknown: CRL " + f.expiredCrl + ": CRL has expired"},
    {"a CRL file that is not there", f.good, ca, {f.caCrl, f.caCrl + ".gone"}, false, kUntrusted, "unknown: CRL file " + f.caCrl + ".gone cannot be read (No such file or directory)"},
    {"every certificate, none given", f.good, ca, {}, true, kUntrusted, "unknown: no CRL from CN=Brevick Test CA for CN=Good Signer"},
    {"no anchors: no chain to check", f.good, {}, {f.caCrl}, false, kUntrusted, "unknown: no chain to an anchor to check it along"},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    VerifyOptions options;
    options.signedPath = test.message;
    options.trustFiles = test.trust;
    options.crl.files = test.crls;
    options.crl.everyCertificate = test.everyCertificate;
    const VerifyReport report = VerifySignedManifest(options);
    EXPECT_EQ(test.exitCode, report.exitCode) << report.trust.reason;
    EXPECT_EQ(test.revocation, RevocationSummary(report));
  }
}

}  // namespace
}  // namespace brevick::testing
