// The PKI of ca_fixture.h. Revocations, CRLs and tokens come from the openssl
// command, the way an operator makes them, so that they are real ones rather
// than what our own code thinks they look like.
#include "tests/support/ca_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "cms/timestamp_request.h"
#include "cms/timestamp_token.h"
#include "tests/support/bytes.h"
#include "tests/support/process.h"
#include "tests/support/tsa_server.h"

namespace brevick::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kLeafKey = 0;
constexpr long kShortLifeSeconds = 2;

std::string Quote(const std::string& text) { return "'" + text + "'"; }

void Write(const fs::path& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string TimeText(std::time_t time, const char* format) {
  std::tm parts{};
  ::gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

std::string GeneralizedTime(std::time_t time) { return TimeText(time, "%Y%m%d%H%M%SZ"); }

CertSpec SignerSpec(const std::string& crlUrl = "") {
  return {.keyUsage = "critical,digitalSignature",
          .extendedKeyUsage = "codeSigning",
          .crlDistributionPoints = crlUrl.empty() ? "" : "URI:" + crlUrl};
}

std::vector<std::uint8_t> Sign(const std::string& certificatePath) {
  static constexpr std::string_view kContent = "<release>fixture</release>\n";
  const X509Ptr certificate = ReadPemCertificate(certificatePath);
  return SignedMessage(certificate.get(), TestRsaKey(kLeafKey), BytesOf(kContent),
                       DigestAlgorithm::kSha256);
}

// The message with a token from `openssl ts -reply`, signed by `tsaCert`,
// over its signature value (or over `otherData`).
std::vector<std::uint8_t> Stamped(const std::vector<std::uint8_t>& message,
                                  const std::string& tsaCert, const fs::path& log,
                                  const std::string& otherData = "") {
  const std::vector<std::uint8_t> signature =
      otherData.empty() ? ReadSignerTimestamps(message).value().signatureValue : Bytes(otherData);
  const TimestampRequest request =
      MakeTimestampRequest(signature, DigestAlgorithm::kSha256).value();
  const TempDir scratch;
  const std::string query = scratch.WriteFile("q.tsq", TextOf(request.der)).string();
  const std::string token = (scratch.Path() / "token.der").string();
  Shell(log, "openssl ts -reply -config " + Quote(TsaServer::Shared().Authority().Path("tsa.cnf")) +
                 " -queryfile " + Quote(query) + " -signer " + Quote(tsaCert) +
                 " -token_out -out " + Quote(token));
  return WithTimestampToken(message, Bytes(ReadFileBytes(token))).value();
}

void WaitUntilAfter(std::time_t moment) {
  while (std::time(nullptr) <= moment) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

struct Made {
  TempDir temp;
  CaFixture fixture;
};

// The CRLs, made after every revocation; the expired one ended a day ago.
void MakeCrls(CaFixture& f, const TestAuthority& ca, const TestAuthority& tsa) {
  const std::time_t now = std::time(nullptr);
  f.caCrl = ca.GenerateCrl("ca.crl");
  f.tsaCrl = tsa.GenerateCrl("tsa.crl");
  f.expiredCrl =
      ca.GenerateCrl("expired.crl", "-crl_lastupdate " + GeneralizedTime(now - 172800) +
                                        " -crl_nextupdate " + GeneralizedTime(now - 86400));
  f.bothCrls = (f.dir / "both.pem").string();
  Write(f.bothCrls, ReadFileBytes(f.caCrl) + ReadFileBytes(f.tsaCrl));
  Shell(f.dir, "openssl crl -in " + Quote(f.caCrl) + " -outform DER -out " +
                   Quote((TsaServer::Shared().CrlDirectory() / "fixture-ca.crl").string()));
}

void MakeFixture(Made& made) {
  CaFixture& f = made.fixture;
  f.dir = made.temp.Path();
  TestAuthority ca(f.dir / "ca", "Brevick Test CA", 1);
  TsaServer& server = TsaServer::Shared();
  TestAuthority& tsa = server.Authority();
  f.caRoot = ca.Path("ca.pem");
  f.tsaRoot = tsa.Path("ca.pem");
  f.deadFetchUrl = server.RefusedUrl();  // the shared server serves the other CRL

  const std::string good = ca.Issue("good", "Good Signer", SignerSpec());
  const std::string early = ca.Issue("early", "Early Revoked Signer", SignerSpec());
  const std::string late = ca.Issue("late", "Late Revoked Signer", SignerSpec());
  const std::string fetch =
      ca.Issue("fetch", "Fetching Signer", SignerSpec(server.Url("crl/fixture-ca.crl")));
  const std::string dead = ca.Issue("dead", "Dead Link Signer", SignerSpec(f.deadFetchUrl));
  const std::string tsaCert = tsa.Path("tsa.pem");
  const std::string tsaGone = tsa.Issue("gone", "Brevick Revoked TSA", TsaSpec());
  const auto save = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
    Write(f.Message(name), TextOf(bytes));
  };
  const auto stamp = [&](const std::string& cert, const std::string& by,
                         const std::string& otherData = "") {
    return Stamped(Sign(cert), by, f.dir, otherData);
  };

  // Its key compromised a minute ago: the invalidity date is the time that
  // counts, not the later date of the revocation.
  f.revokedEarlyAt = std::time(nullptr) - 60;
  ca.Revoke("early", "-crl_compromise " + GeneralizedTime(f.revokedEarlyAt));
  // Issued last and signed first, so that its short life is spent waiting
  // as little as possible.
  CertSpec shortLived = SignerSpec();
  shortLived.notAfterDays = 0;
  shortLived.notAfterSeconds = kShortLifeSeconds;
  const std::time_t briefEnd = std::time(nullptr) + kShortLifeSeconds;
  const std::string brief = ca.Issue("brief", "Short Lived Signer", shortLived);
  save("expired-ts", stamp(brief, tsaCert));
  save("expired", Sign(brief));
  save("good-ts", stamp(good, tsaCert));
  save("good", Sign(good));
  save("revoked-early-ts", stamp(early, tsaCert));
  save("revoked-late-ts", stamp(late, tsaCert));
  save("revoked-late", Sign(late));
  save("revoked-tsa-ts", stamp(good, tsaGone));
  save("foreign-token-ts", stamp(good, tsaCert, "other bytes"));
  save("fetch-ts", stamp(fetch, tsaCert));
  save("dead-fetch", Sign(dead));

  // Revocation dates have whole seconds: the later ones must fall after
  // every token's time, not within its second.
  WaitUntilAfter(std::time(nullptr));
  ca.Revoke("late", "-crl_reason superseded");
  tsa.Revoke("gone", "-crl_reason keyCompromise");
  f.revokedLateAt = std::time(nullptr);
  // A CRL's own date then differs from every revocation date in it, so that
  // the one is never taken for the other.
  WaitUntilAfter(f.revokedLateAt);
  MakeCrls(f, ca, tsa);
  WaitUntilAfter(briefEnd);
}

}  // namespace

TestAuthority::TestAuthority(const fs::path& directory, const std::string& subject, int key)
    : dir(directory),
      root(MakeCertificate(
          TestRsaKey(key), {{"CN", subject}},
          {.basicConstraints = "critical,CA:TRUE", .keyUsage = "critical,keyCertSign,cRLSign"})),
      keyIndex(key) {
  fs::create_directories(dir);
  Write(dir / "index.txt", "");
  Write(dir / "crlnumber", "1000\n");
  Write(dir / "ca.pem", PemOf(root.get()));
  Write(dir / "ca.key", PemOf(TestRsaKey(key)));
  Write(dir / "leaf.key", PemOf(TestRsaKey(kLeafKey)));
  Write(dir / "ca.cnf", "[ ca ]\ndefault_ca = own\n[ own ]\ndatabase = " + Path("index.txt") +
                            "\ncertificate = " + Path("ca.pem") + "\nprivate_key = " +
                            Path("ca.key") + "\ncrlnumber = " + Path("crlnumber") +
                            "\ndefault_md = sha256\ndefault_crl_days = 30\n");
}

std::string TestAuthority::Issue(const std::string& name, const std::string& subject,
                                 CertSpec spec) {
  spec.serial = ++serial;
  spec.issuer = root.get();
  spec.issuerKey = TestRsaKey(keyIndex);
  const X509Ptr certificate = MakeCertificate(TestRsaKey(kLeafKey), {{"CN", subject}}, spec);
  Write(dir / (name + ".pem"), PemOf(certificate.get()));
  return Path(name + ".pem");
}

void TestAuthority::Revoke(const std::string& name, const std::string& how) const {
  Shell(dir, "openssl ca -config " + Quote(Path("ca.cnf")) + " -revoke " +
                 Quote(Path(name + ".pem")) + " " + how);
}

std::string TestAuthority::GenerateCrl(const std::string& name, const std::string& extra) const {
  Shell(dir, "openssl ca -config " + Quote(Path("ca.cnf")) + " -gencrl -crldays 2 " + extra +
                 " -out " + Quote(Path(name)));
  return Path(name);
}

CertSpec TsaSpec() {
  return {.keyUsage = "critical,digitalSignature", .extendedKeyUsage = "critical,timeStamping"};
}

std::string UtcText(std::time_t time) { return TimeText(time, "%Y-%m-%dT%H:%M:%SZ"); }

const CaFixture& SharedCaFixture() {
  static Made made;
  static const std::string failure = [] {
    try {
      MakeFixture(made);
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string();
  }();
  if (!failure.empty()) ADD_FAILURE() << failure;
  return made.fixture;
}

}  // namespace brevick::testing
