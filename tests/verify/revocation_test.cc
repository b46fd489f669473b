// Timestamps and revocation on a real PKI: certificates from `openssl ca`,
// CRLs from -gencrl, tokens from `openssl ts -reply`, CRLs downloaded from a
// local HTTP server.
#include <gtest/gtest.h>

#include "base/utf8.h"
#include "tests/support/ca_fixture.h"
#include "verify/verify.h"

namespace brevick::testing {
namespace {

constexpr int kUntrusted = static_cast<int>(VerifyFailure::kUntrusted);

class RecordingReporter final : public Reporter {
 public:
  void Progress(std::wstring_view) override {}
  void Debug(std::wstring_view) override {}
  void Notice(std::wstring_view line) override { notices += ToUtf8(std::wstring(line)) + "\n"; }
  void Error(std::wstring_view) override {}
  std::string notices;
};

struct Case {
  const char* name;
  std::string message;
  std::vector<std::string> trust;
  std::vector<std::string> tsaTrust;
  std::vector<std::string> crls;
  bool everyCertificate;
  int exitCode;
  std::string timestamp;   // a part of the verdict after "Timestamp: "
  const char* atSource;    // where the signer's chain was checked: "timestamp" or "now"
  std::string revocation;  // the whole verdict after "Revocation: "
};

void Check(const Case& test, VerifyOptions options) {
  SCOPED_TRACE(test.name);
  options.signedPath = test.message;
  options.trustFiles = test.trust;
  options.tsaTrustFiles = test.tsaTrust;
  options.crl.files = test.crls;
  options.crl.everyCertificate = test.everyCertificate;
  const VerifyReport report = VerifySignedManifest(options);
  EXPECT_EQ(test.exitCode, report.exitCode) << report.trust.reason;
  EXPECT_NE(std::string::npos, TimestampSummary(report).find(test.timestamp))
      << TimestampSummary(report);
  EXPECT_EQ(test.atSource, report.trust.atSource);
  EXPECT_EQ(test.revocation, RevocationSummary(report));
}

TEST(RevocationTest, VerdictsOnARealPki) {
  const CaFixture& f = SharedCaFixture();
  const std::string early = "revoked on " + UtcText(f.revokedEarlyAt);
  const std::string late = "revoked on " + UtcText(f.revokedLateAt);
  const std::vector<std::string> ca = {f.caRoot};
  const std::vector<std::string> both = {f.caRoot, f.tsaRoot};
  const std::string byTsa = "by CN=Brevick Test TSA; trusted: chains to CN=Brevick Test TSA Root";
  // clang-format off
  const Case cases[] = {
    {"two CRLs in one file, every certificate", f.goodTs, both, {}, {f.bothCrls}, true, 0, byTsa, "timestamp", "not revoked (2 CRLs)"},
    {"revoked before signing", f.revokedEarlyTs, both, {}, {f.caCrl}, false, kUntrusted, byTsa, "timestamp", early + " (keyCompromise)"},
    {"revoked after the timestamp", f.revokedLateTs, both, {}, {f.caCrl}, false, 0, byTsa, "timestamp", late + " (superseded), after the timestamp"},
    {"revoked, no timestamp", f.revokedLate, ca, {}, {f.caCrl}, false, kUntrusted, "none", "now", late + " (superseded)"},
    {"CRL of another issuer", f.good, ca, {}, {f.otherCrl}, false, kUntrusted, "none", "now", "unknown: no CRL from CN=Brevick Test CA for CN=Good Signer; given: " + f.otherCrl + " from CN=Brevick Other CA"},
    {"expired CRL", f.good, ca, {}, {f.expiredCrl}, false, kUntrusted, "none", "now", "unknown: CRL " + f.expiredCrl + ": CRL has expired"},
    {"a CRL file that is not there", f.good, ca, {}, {f.caCrl, f.caCrl + ".gone"}, false, kUntrusted, "none", "now", "unknown: CRL file " + f.caCrl + ".gone cannot be read (No such file or directory)"},
    {"every certificate, the TSA's CRL missing", f.goodTs, both, {}, {f.caCrl}, true, kUntrusted, "not trusted: its revocation status is unknown", "now", "unknown: no CRL from CN=Brevick Test TSA Root for CN=Brevick Test TSA; given: " + f.caCrl + " from CN=Brevick Test CA"},
    {"TSA certificate revoked since", f.revokedTsaTs, both, {}, {f.caCrl, f.tsaCrl}, false, 0, "not trusted: the TSA certificate was revoked on " + UtcText(f.revokedLateAt) + " (keyCompromise)", "now", "not revoked (2 CRLs)"},
    {"no anchors, so no chain to check", f.good, {}, {}, {f.caCrl}, false, kUntrusted, "none", "", "unknown: no chain to an anchor to check it along"},
    {"expired since, timestamp", f.expiredTs, both, {}, {}, false, 0, byTsa, "timestamp", "not checked"},
    {"expired since, TSA anchor given apart", f.expiredTs, ca, {f.tsaRoot}, {}, false, 0, byTsa, "timestamp", "not checked"},
    {"expired since, no timestamp", f.expired, both, {}, {}, false, kUntrusted, "none", "now", "not checked"},
    {"expired since, TSA root not trusted", f.expiredTs, ca, {}, {}, false, kUntrusted, "not trusted: no chain to the anchors", "now", "not checked"},
    {"--tsa-trust replaces the signer's anchors", f.expiredTs, both, {f.otherRoot}, {}, false, kUntrusted, "not trusted: no chain to the anchors", "now", "not checked"},
    {"token over other bytes", f.foreignTokenTs, both, {}, {}, false, kUntrusted, "invalid: ", "now", "not checked"},
  };
  // clang-format on
  for (const Case& test : cases) Check(test, {});
}

TEST(RevocationTest, RequireTimestampFailsWithoutATrustedOne) {
  const CaFixture& f = SharedCaFixture();
  VerifyOptions options;
  options.requireTimestamp = true;
  // clang-format off
  const Case cases[] = {
    {"none", f.good, {f.caRoot}, {}, {}, false, kUntrusted, "none", "now", "not checked"},
    {"one, trusted", f.goodTs, {f.caRoot, f.tsaRoot}, {}, {}, false, 0, "trusted", "timestamp", "not checked"},
  };
  // clang-format on
  for (const Case& test : cases) Check(test, options);
}

TEST(RevocationTest, FetchesTheCrlFromTheDistributionPoint) {
  const CaFixture& f = SharedCaFixture();
  const std::string dead = f.deadFetchUrl;
  // clang-format off
  const struct {
    const char* name;
    std::string message;
    int exitCode;
    std::string revocation;
    std::string notices;
  } cases[] = {
    {"served", f.fetchTs, 0, "not revoked (1 CRL)", ""},
    {"server down", f.deadFetch, kUntrusted, "unknown: no CRL could be fetched for CN=Dead Link Signer (" + dead + ": connection refused)", "crl: " + dead + ": connection refused\ncrl: " + dead + ": connection refused\n"},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    VerifyOptions options;
    options.signedPath = test.message;
    options.trustFiles = {f.caRoot, f.tsaRoot};
    options.crl.fetch = true;
    options.crl.rounds = 2;
    options.crl.waitSeconds = 0;
    RecordingReporter reporter;
    const VerifyReport report = VerifySignedManifest(options, &reporter);
    EXPECT_EQ(test.exitCode, report.exitCode) << report.trust.reason;
    EXPECT_EQ(test.revocation, RevocationSummary(report));
    EXPECT_EQ(test.notices, reporter.notices);
  }
}

}  // namespace
}  // namespace brevick::testing
