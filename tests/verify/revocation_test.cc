// Timestamps and revocation on a real PKI: an `openssl ca` database,
// CRLs from -gencrl, tokens from `openssl ts -reply`, CRLs downloaded from a
// local HTTP server.
#include <gtest/gtest.h>

#include "tests/support/ca_fixture.h"
#include "tests/support/recording_reporter.h"
#include "verify/verify.h"

namespace brevick::testing {
namespace {

constexpr int kUntrusted = static_cast<int>(VerifyFailure::kUntrusted);

enum class Mode { kPlain, kRequireTimestamp, kFetch };

TEST(RevocationTest, VerdictsOnARealPki) {
  const CaFixture& f = SharedCaFixture();
  const std::string early = "revoked on " + UtcText(f.revokedEarlyAt);
  const std::string late = "revoked on " + UtcText(f.revokedLateAt);
  const std::vector<std::string> ca = {f.caRoot};
  const std::vector<std::string> both = {f.caRoot, f.tsaRoot};
  const std::string byTsa = "by CN=Brevick Test TSA; trusted: chains to CN=Brevick Test TSA Root";
  const std::string refused = "crl: " + f.deadFetchUrl + ": connection refused\n";
  using enum Mode;
  // `timestamp`: a part of the verdict after "Timestamp: "; `atSource`: where
  // the signer's chain was checked; `revocation`: the whole verdict after
  // "Revocation: "; `notices`: what the reporter was told, one per line.
  // clang-format off
  const struct { const char* name; std::string message; std::vector<std::string> trust, tsaTrust, crls; bool everyCertificate; Mode mode; int exitCode; std::string timestamp; const char* atSource; std::string revocation, notices; } cases[] = {
      {"two CRLs in one file, every certificate", f.Message("good-ts"), both, {}, {f.bothCrls}, true, kPlain, 0, byTsa, "timestamp", "not revoked (2 CRLs)", ""},
      {"revoked before signing", f.Message("revoked-early-ts"), both, {}, {f.caCrl}, false, kPlain, kUntrusted, byTsa, "timestamp", early + " (keyCompromise)", ""},
      {"revoked after the timestamp", f.Message("revoked-late-ts"), both, {}, {f.caCrl}, false, kPlain, 0, byTsa, "timestamp", late + " (superseded), after the timestamp", ""},
      {"revoked, no timestamp", f.Message("revoked-late"), ca, {}, {f.caCrl}, false, kPlain, kUntrusted, "none", "now", late + " (superseded)", ""},
      {"CRL of another issuer", f.Message("good"), ca, {}, {f.tsaCrl}, false, kPlain, kUntrusted, "none", "now", "unknown: no CRL from CN=Brevick Test CA for CN=Good Signer; given: " + f.tsaCrl + " from CN=Brevick Test TSA Root", ""},
      {"expired CRL", f.Message("good"), ca, {}, {f.expiredCrl}, false, kPlain, kUntrusted, "none", "now", "unknown: CRL " + f.expiredCrl + ": CRL has expired", ""},
      {"a CRL file that is not there", f.Message("good"), ca, {}, {f.caCrl, f.caCrl + ".gone"}, false, kPlain, kUntrusted, "none", "now", "unknown: CRL file " + f.caCrl + ".gone cannot be read (No such file or directory)", ""},
      {"every certificate, the TSA's CRL missing", f.Message("good-ts"), both, {}, {f.caCrl}, true, kPlain, kUntrusted, "not trusted: its revocation status is unknown", "now", "unknown: no CRL from CN=Brevick Test TSA Root for CN=Brevick Test TSA; given: " + f.caCrl + " from CN=Brevick Test CA", ""},
      {"TSA certificate revoked since", f.Message("revoked-tsa-ts"), both, {}, {f.caCrl, f.tsaCrl}, false, kPlain, 0, "not trusted: the TSA certificate was revoked on " + UtcText(f.revokedLateAt) + " (keyCompromise)", "now", "not revoked (2 CRLs)", ""},
      {"no anchors, so no chain to check", f.Message("good"), {}, {}, {f.caCrl}, false, kPlain, kUntrusted, "none", "", "unknown: no chain to an anchor to check it along", ""},
      {"expired since, timestamp", f.Message("expired-ts"), both, {}, {}, false, kPlain, 0, byTsa, "timestamp", "not checked", ""},
      {"expired since, TSA anchor given apart", f.Message("expired-ts"), ca, {f.tsaRoot}, {}, false, kPlain, 0, byTsa, "timestamp", "not checked", ""},
      {"expired since, no timestamp", f.Message("expired"), both, {}, {}, false, kPlain, kUntrusted, "none", "now", "not checked", ""},
      {"expired since, TSA root not trusted", f.Message("expired-ts"), ca, {}, {}, false, kPlain, kUntrusted, "not trusted: no chain to the anchors", "now", "not checked", ""},
      {"--tsa-trust replaces the signer's anchors", f.Message("expired-ts"), both, {f.caRoot}, {}, false, kPlain, kUntrusted, "not trusted: no chain to the anchors", "now", "not checked", ""},
      {"token over other bytes", f.Message("foreign-token-ts"), both, {}, {}, false, kPlain, kUntrusted, "invalid: ", "now", "not checked", ""},
      {"timestamp required, none", f.Message("good"), ca, {}, {}, false, kRequireTimestamp, kUntrusted, "none", "now", "not checked", ""},
      {"timestamp required, one trusted", f.Message("good-ts"), both, {}, {}, false, kRequireTimestamp, 0, "trusted", "timestamp", "not checked", ""},
      {"CRL fetched from the distribution point", f.Message("fetch-ts"), both, {}, {}, false, kFetch, 0, byTsa, "timestamp", "not revoked (1 CRL)", ""},
      {"CRL server down", f.Message("dead-fetch"), both, {}, {}, false, kFetch, kUntrusted, "none", "now", "unknown: no CRL could be fetched for CN=Dead Link Signer (" + f.deadFetchUrl + ": connection refused)", refused + refused},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    VerifyOptions options;
    options.signedPath = test.message;
    options.trustFiles = test.trust;
    options.tsaTrustFiles = test.tsaTrust;
    options.crl.files = test.crls;
    options.crl.everyCertificate = test.everyCertificate;
    options.requireTimestamp = test.mode == kRequireTimestamp;
    options.crl.fetch = test.mode == kFetch;
    options.crl.rounds = 2;
    options.crl.waitSeconds = 0;
    RecordingReporter reporter;
    const VerifyReport report = VerifySignedManifest(options, &reporter);
    EXPECT_EQ(test.exitCode, report.exitCode) << report.trust.reason;
    EXPECT_NE(std::string::npos, TimestampSummary(report).find(test.timestamp))
        << TimestampSummary(report);
    EXPECT_EQ(test.atSource, report.trust.atSource);
    EXPECT_EQ(test.revocation, RevocationSummary(report));
    std::string notices;
    for (const std::string& notice : reporter.Notices()) notices += notice + "\n";
    EXPECT_EQ(test.notices, notices);
  }
}

}  // namespace
}  // namespace brevick::testing
