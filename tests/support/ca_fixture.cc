// The PKI of ca_fixture.h, made with the openssl command line the way an
// operator would, so that the CRLs, tokens and certificates are real ones
// rather than what our own code thinks they look like.
#include "tests/support/ca_fixture.h"

#include <openssl/pem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/bytes.h"
#include "tests/support/signing_certs.h"
#include "tests/support/tsa_server.h"

namespace brevick::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kCaKey = 1;
constexpr int kTsaRootKey = 2;
constexpr int kLeafKey = 0;
constexpr long kShortLifeSeconds = 2;

void Require(bool condition, const std::string& what) {
  if (!condition) throw std::runtime_error("CA fixture: " + what);
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

// Runs one shell command; its output goes to the fixture's log, which the
// failure names.
void Shell(const fs::path& dir, const std::string& command) {
  const std::string log = (dir / "openssl.log").string();
  const int status = std::system((command + " >>" + Quote(log) + " 2>&1").c_str());
  Require(status == 0, command + " failed; see " + log);
}

std::string TimeText(std::time_t time, const char* format) {
  std::tm parts{};
  ::gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

std::string GeneralizedTime(std::time_t time) { return TimeText(time, "%Y%m%d%H%M%SZ"); }

std::string CaConfig(const fs::path& caDir) {
  return "[ ca ]\ndefault_ca = CA_default\n"
         "[ CA_default ]\ndir = " +
         caDir.string() +
         "\ndatabase = $dir/index.txt\nnew_certs_dir = $dir/newcerts\n"
         "certificate = $dir/ca.pem\nprivate_key = $dir/ca.key\nserial = $dir/serial\n"
         "crlnumber = $dir/crlnumber\ndefault_md = sha256\ndefault_days = 365\n"
         "default_crl_days = 30\npolicy = policy_any\nunique_subject = no\n"
         "crl_extensions = crl_ext\n"
         "[ policy_any ]\ncommonName = supplied\norganizationName = optional\n"
         "[ crl_ext ]\nauthorityKeyIdentifier = keyid:always\n"
         "[ signer_ext ]\nbasicConstraints = CA:FALSE\nkeyUsage = critical,digitalSignature\n"
         "extendedKeyUsage = codeSigning\nsubjectKeyIdentifier = hash\n"
         "authorityKeyIdentifier = keyid\ncrlDistributionPoints = URI:$ENV::BREVICK_CDP\n"
         "[ tsa_ext ]\nbasicConstraints = CA:FALSE\nkeyUsage = critical,digitalSignature\n"
         "extendedKeyUsage = critical,timeStamping\nsubjectKeyIdentifier = hash\n"
         "authorityKeyIdentifier = keyid\n";
}

std::string WriteWhole(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
  Require(fs::file_size(path) == bytes.size(), "cannot write " + path.string());
  return path.string();
}

// One `openssl ca` directory: its root, database and configuration.
class Authority {
 public:
  Authority(const fs::path& base, const std::string& name, const std::string& subject, int keyIndex)
      : dir(base / name) {
    fs::create_directories(dir / "newcerts");
    WriteWhole(dir / "index.txt", "");
    WriteWhole(dir / "serial", "1000\n");
    WriteWhole(dir / "crlnumber", "1000\n");
    WriteWhole(dir / "ca.cnf", CaConfig(dir));
    WriteWhole(dir / "ca.key", PemOf(TestRsaKey(keyIndex)));
    WriteWhole(dir / "leaf.key", PemOf(TestRsaKey(kLeafKey)));  // every certificate it issues
    Shell(dir, "openssl req -x509 -new -key " + Quote(Path("ca.key")) + " -subj " +
                   Quote("/CN=" + subject) +
                   " -days 3650 -set_serial 1 -addext basicConstraints=critical,CA:TRUE"
                   " -addext keyUsage=critical,keyCertSign,cRLSign -out " +
                   Quote(Path("ca.pem")));
  }

  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // Issues `name`.pem for leaf.key with the configuration's
  // extension section `extensions`.
  std::string Issue(const std::string& name, const std::string& subject,
                    const std::string& extensions, const std::string& cdp = "http://unused/",
                    std::optional<std::time_t> notAfter = std::nullopt) const {
    Shell(dir, "openssl req -new -key " + Quote(Path("leaf.key")) + " -subj " +
                   Quote("/CN=" + subject) + " -out " + Quote(Path(name + ".csr")));
    std::string command = "BREVICK_CDP=" + Quote(cdp) + " openssl ca -batch -notext -config " +
                          Quote(Path("ca.cnf")) + " -extensions " + extensions + " -in " +
                          Quote(Path(name + ".csr")) + " -out " + Quote(Path(name + ".pem"));
    if (notAfter) command += " -enddate " + GeneralizedTime(*notAfter);
    Shell(dir, command);
    return Path(name + ".pem");
  }

  void Revoke(const std::string& name, const std::string& reason) const {
    Shell(dir, "BREVICK_CDP=x openssl ca -config " + Quote(Path("ca.cnf")) + " -revoke " +
                   Quote(Path(name + ".pem")) + " -crl_reason " + reason);
  }

  // The newest revocation time in the CA's database, as the CA took it from
  // its own clock: a second may have begun since.
  std::time_t LatestRevocation() const {
    std::istringstream index(ReadFileBytes(Path("index.txt")));
    std::time_t latest = 0;
    for (std::string line; std::getline(index, line);) {
      if (!line.starts_with("R\t")) continue;  // R, expiry, revocation date, ...
      std::tm date{};
      if (::strptime(line.substr(line.find('\t', 2) + 1).c_str(), "%y%m%d%H%M%S", &date))
        latest = std::max(latest, ::timegm(&date));
    }
    return latest;
  }

  std::string GenerateCrl(const std::string& name, const std::string& extra = "") const {
    Shell(dir, "BREVICK_CDP=x openssl ca -config " + Quote(Path("ca.cnf")) +
                   " -gencrl -crldays 2 " + extra + " -out " + Quote(Path(name)));
    return Path(name);
  }

  fs::path dir;
};

std::vector<std::uint8_t> Sign(const std::string& certificatePath) {
  static constexpr std::string_view kContent = "<release>fixture</release>\n";
  const X509Ptr certificate = ReadPemCertificate(certificatePath);
  std::vector<std::uint8_t> message = SignedMessage(certificate.get(), TestRsaKey(kLeafKey),
                                                    BytesOf(kContent), DigestAlgorithm::kSha256);
  Require(!message.empty(), "signing with " + certificatePath);
  return message;
}

// Asks `openssl ts` for a token over the message's signature value (or over
// `otherData`) and adds it to the SignerInfo's unsigned attributes.
std::vector<std::uint8_t> AddToken(const std::vector<std::uint8_t>& message, const fs::path& work,
                                   const std::string& tsaCert, const std::string& tsaKey,
                                   const std::string& otherData = "") {
  const unsigned char* next = message.data();
  const Pkcs7Ptr p7(d2i_PKCS7(nullptr, &next, static_cast<long>(message.size())));
  Require(p7 != nullptr, "the signed message does not decode");
  PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
  const ASN1_OCTET_STRING* signature = info->enc_digest;
  const std::string data = otherData.empty()
                               ? std::string(reinterpret_cast<const char*>(signature->data),
                                             static_cast<std::size_t>(signature->length))
                               : otherData;
  const TempDir scratch;
  const std::string dataPath = scratch.WriteFile("data.bin", data).string();
  const std::string query = (scratch.Path() / "q.tsq").string();
  const std::string token = (scratch.Path() / "token.der").string();
  Shell(work, "openssl ts -query -data " + Quote(dataPath) + " -sha256 -cert -out " + Quote(query));
  const fs::path config = TsaServer::Shared().Directory() / "tsa.cnf";  // signer and key replaced
  Shell(work, "openssl ts -reply -config " + Quote(config.string()) + " -queryfile " +
                  Quote(query) + " -signer " + Quote(tsaCert) + " -inkey " + Quote(tsaKey) +
                  " -token_out -out " + Quote(token));
  const std::string tokenBytes = ReadFileBytes(token);
  ASN1_STRING* value = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
  Require(value != nullptr &&
              ASN1_STRING_set(value, tokenBytes.data(), static_cast<int>(tokenBytes.size())) == 1,
          "token attribute");
  Require(PKCS7_add_attribute(info, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE, value) == 1,
          "adding the token");
  unsigned char* der = nullptr;
  const int length = i2d_PKCS7(p7.get(), &der);
  const OpenSslBytesPtr owned(der);
  Require(length > 0, "encoding the timestamped message");
  return {der, der + length};
}

void WaitUntilAfter(std::time_t moment) {
  while (std::time(nullptr) <= moment) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

struct Made {
  TempDir temp;
  CaFixture fixture;
};

// The CRLs, made after every revocation; the expired one ended a day ago.
void MakeCrls(CaFixture& f, const Authority& ca, const Authority& tsa) {
  const std::time_t now = std::time(nullptr);
  f.caCrl = ca.GenerateCrl("ca.crl");
  f.tsaCrl = tsa.GenerateCrl("tsa.crl");
  f.expiredCrl =
      ca.GenerateCrl("expired.crl", "-crl_lastupdate " + GeneralizedTime(now - 172800) +
                                        " -crl_nextupdate " + GeneralizedTime(now - 86400));
  f.bothCrls = WriteWhole(f.dir / "both.pem", ReadFileBytes(f.caCrl) + ReadFileBytes(f.tsaCrl));
  Shell(f.dir, "openssl crl -in " + Quote(f.caCrl) + " -outform DER -out " +
                   Quote((TsaServer::Shared().CrlDirectory() / "fixture-ca.crl").string()));
}

void MakeFixture(Made& made) {
  CaFixture& f = made.fixture;
  f.dir = made.temp.Path();
  const Authority ca(f.dir, "ca", "Brevick Test CA", kCaKey);
  const Authority tsa(f.dir, "tsa", "Brevick Test TSA Root", kTsaRootKey);
  f.caRoot = ca.Path("ca.pem");
  f.tsaRoot = tsa.Path("ca.pem");
  // The shared TSA server serves the CRL; its refused port is the dead link.
  const TsaServer& server = TsaServer::Shared();
  f.servedCrlUrl = server.Url("crl/fixture-ca.crl");
  f.deadFetchUrl = server.RefusedUrl();

  const std::string good = ca.Issue("good", "Good Signer", "signer_ext");
  const std::string early = ca.Issue("early", "Early Revoked Signer", "signer_ext");
  const std::string late = ca.Issue("late", "Late Revoked Signer", "signer_ext");
  const std::string fetch = ca.Issue("fetch", "Fetching Signer", "signer_ext", f.servedCrlUrl);
  const std::string dead = ca.Issue("dead", "Dead Link Signer", "signer_ext", f.deadFetchUrl);
  const std::string tsaCert = tsa.Issue("tsa", "Brevick Test TSA", "tsa_ext");
  const std::string tsaGone = tsa.Issue("gone", "Brevick Revoked TSA", "tsa_ext");
  const std::string leafKey = ca.Path("leaf.key");
  const auto save = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
    return WriteWhole(f.dir / name, TextOf(bytes));
  };

  ca.Revoke("early", "keyCompromise");
  f.revokedEarlyAt = ca.LatestRevocation();
  const auto stamp = [&](const std::string& cert, const std::string& tsaPem,
                         const std::string& otherData = "") {
    return AddToken(Sign(cert), f.dir, tsaPem, leafKey, otherData);
  };
  // Issued last and signed first, so that its short life is spent waiting
  // as little as possible.
  const std::time_t briefEnd = std::time(nullptr) + kShortLifeSeconds;
  const std::string brief =
      ca.Issue("brief", "Short Lived Signer", "signer_ext", "http://unused/", briefEnd);
  f.expiredTs = save("brief-ts.p7", stamp(brief, tsaCert));
  f.expired = save("brief.p7", Sign(brief));
  f.goodTs = save("good-ts.p7", stamp(good, tsaCert));
  f.good = save("good.p7", Sign(good));
  f.revokedEarlyTs = save("early-ts.p7", stamp(early, tsaCert));
  f.revokedLateTs = save("late-ts.p7", stamp(late, tsaCert));
  f.revokedLate = save("late.p7", Sign(late));
  f.revokedTsaTs = save("gone-tsa-ts.p7", stamp(good, tsaGone));
  f.foreignTokenTs = save("foreign-ts.p7", stamp(good, tsaCert, "other bytes"));
  f.fetchTs = save("fetch-ts.p7", stamp(fetch, tsaCert));
  f.deadFetch = save("dead.p7", Sign(dead));

  // Revocation dates have whole seconds: the later ones must fall after
  // every token's time, not within its second.
  WaitUntilAfter(std::time(nullptr));
  ca.Revoke("late", "superseded");
  tsa.Revoke("gone", "keyCompromise");
  f.revokedLateAt = std::time(nullptr);

  MakeCrls(f, ca, tsa);
  WaitUntilAfter(briefEnd);
}

}  // namespace

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
