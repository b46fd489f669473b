// The PKI of ca_fixture.h, made with the openssl command line the way an
// operator would, so that the CRLs, tokens and certificates are real ones
// rather than what our own code thinks they look like.
#include "tests/support/ca_fixture.h"

#include <fcntl.h>
#include <openssl/pem.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <netinet/in.h>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "cms/signed_message.h"
#include "tests/support/signing_certs.h"

namespace brevick::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kCaKey = 1;
constexpr int kTsaRootKey = 2;
constexpr int kOtherCaKey = 3;
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

std::string GeneralizedTime(std::time_t time) {
  std::tm parts{};
  ::gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &parts);
  return text;
}

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
         "authorityKeyIdentifier = keyid\n"
         "[ cdp_ext ]\nbasicConstraints = CA:FALSE\nkeyUsage = critical,digitalSignature\n"
         "extendedKeyUsage = codeSigning\ncrlDistributionPoints = URI:$ENV::BREVICK_CDP\n"
         "[ tsa_ext ]\nbasicConstraints = CA:FALSE\nkeyUsage = critical,digitalSignature\n"
         "extendedKeyUsage = critical,timeStamping\nsubjectKeyIdentifier = hash\n"
         "authorityKeyIdentifier = keyid\n";
}

std::string TsaConfig(const fs::path& dir) {
  return "[ tsa ]\ndefault_tsa = tsa_config\n[ tsa_config ]\ndir = " + dir.string() +
         "\nserial = $dir/tsaserial\ncrypto_device = builtin\nsigner_digest = sha256\n"
         "default_policy = 1.3.6.1.4.1.57264.1\ndigests = sha256, sha384, sha512\n"
         "accuracy = secs:1\nordering = yes\ntsa_name = yes\ness_cert_id_chain = no\n"
         "ess_cert_id_alg = sha256\n";
}

void WriteWhole(const fs::path& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  Require(file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(),
          "cannot write " + path.string());
  std::fclose(file);
}

// One `openssl ca` directory: its root, database and configuration.
class Authority {
 public:
  Authority(const fs::path& base, const std::string& name, const std::string& subject, int keyIndex)
      : dir(base / name) {
    fs::create_directories(dir / "newcerts");
    TempWrite("index.txt", "");
    TempWrite("serial", "1000\n");
    TempWrite("crlnumber", "1000\n");
    TempWrite("ca.cnf", CaConfig(dir));
    TempWrite("ca.key", PemOf(TestRsaKey(keyIndex)));
    Shell(dir, "openssl req -x509 -new -key " + Quote(Path("ca.key")) + " -subj " +
                   Quote("/CN=" + subject) +
                   " -days 3650 -set_serial 1 -addext basicConstraints=critical,CA:TRUE"
                   " -addext keyUsage=critical,keyCertSign,cRLSign -out " +
                   Quote(Path("ca.pem")));
  }

  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // Issues `name`.pem for the shared leaf key with the configuration's
  // extension section `extensions`.
  std::string Issue(const std::string& name, const std::string& subject,
                    const std::string& extensions, const std::string& cdp = "http://unused/",
                    std::optional<std::time_t> notAfter = std::nullopt) const {
    TempWrite(name + ".key", PemOf(TestRsaKey(kLeafKey)));
    Shell(dir, "openssl req -new -key " + Quote(Path(name + ".key")) + " -subj " +
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

 private:
  void TempWrite(const std::string& name, const std::string& bytes) const {
    WriteWhole(dir / name, bytes);
  }
};

X509Ptr ReadPemCertificate(const std::string& path) {
  const BioPtr bio(BIO_new_file(path.c_str(), "r"));
  Require(bio != nullptr, "cannot read " + path);
  X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  Require(certificate != nullptr, "no certificate in " + path);
  return certificate;
}

std::vector<std::uint8_t> Sign(const std::string& certificatePath) {
  static constexpr std::string_view kContent = "<release>fixture</release>\n";
  const X509Ptr certificate = ReadPemCertificate(certificatePath);
  const std::span content(reinterpret_cast<const std::uint8_t*>(kContent.data()), kContent.size());
  std::vector<std::uint8_t> message =
      SignedMessage(certificate.get(), TestRsaKey(kLeafKey), content, DigestAlgorithm::kSha256);
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
  Shell(work, "openssl ts -reply -config " + Quote((work / "ts.cnf").string()) + " -queryfile " +
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
  Require(length > 0, "encoding the timestamped message");
  std::vector<std::uint8_t> out(der, der + length);
  OPENSSL_free(der);
  return out;
}

std::string WriteBytes(const fs::path& dir, const std::string& name,
                       const std::vector<std::uint8_t>& bytes) {
  WriteWhole(dir / name, std::string(bytes.begin(), bytes.end()));
  return (dir / name).string();
}

// A port on 127.0.0.1 that nobody listens on (bound, read, closed again).
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  Require(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
              ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0,
          "finding a free port");
  ::close(fd);
  return ntohs(address.sin_port);
}

// python3's static file server over `dir` on 127.0.0.1, stopped at exit.
class FileServer {
 public:
  explicit FileServer(const fs::path& dir) {
    int pipeFds[2];
    Require(::pipe(pipeFds) == 0, "pipe");
    pid = ::fork();
    Require(pid >= 0, "fork");
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlives a test process that dies
      ::dup2(pipeFds[1], STDOUT_FILENO);
      const int devNull = ::open("/dev/null", O_WRONLY);
      ::dup2(devNull, STDERR_FILENO);
      ::close(pipeFds[0]);
      ::execlp("python3", "python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
               "--directory", dir.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    // "Serving HTTP on 127.0.0.1 port 40123 (http://127.0.0.1:40123/) ..."
    std::string line;
    char c = 0;
    while (line.find('\n') == std::string::npos && ::read(pipeFds[0], &c, 1) == 1) line += c;
    ::close(pipeFds[0]);
    const std::size_t at = line.find(" port ");
    Require(at != std::string::npos, "the HTTP server did not start: " + line);
    port = std::atoi(line.c_str() + at + 6);
  }
  ~FileServer() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
  }
  FileServer(const FileServer&) = delete;
  FileServer& operator=(const FileServer&) = delete;

  int port = 0;

 private:
  pid_t pid = -1;
};

void WaitUntilAfter(std::time_t moment) {
  while (std::time(nullptr) <= moment) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

struct Made {
  TempDir temp;
  std::optional<FileServer> server;
  CaFixture fixture;
};

void MakeFixture(Made& made) {
  CaFixture& f = made.fixture;
  f.dir = made.temp.Path();
  const Authority ca(f.dir, "ca", "Brevick Test CA", kCaKey);
  const Authority tsa(f.dir, "tsa", "Brevick Test TSA Root", kTsaRootKey);
  const Authority other(f.dir, "other", "Brevick Other CA", kOtherCaKey);
  f.caRoot = ca.Path("ca.pem");
  f.tsaRoot = tsa.Path("ca.pem");
  f.otherRoot = other.Path("ca.pem");
  fs::create_directories(f.dir / "served");
  made.server.emplace(f.dir / "served");
  f.servedCrlUrl = "http://127.0.0.1:" + std::to_string(made.server->port) + "/ca.crl";
  const std::time_t start = std::time(nullptr);

  const std::string good = ca.Issue("good", "Good Signer", "signer_ext");
  const std::string early = ca.Issue("early", "Early Revoked Signer", "signer_ext");
  const std::string late = ca.Issue("late", "Late Revoked Signer", "signer_ext");
  const std::string fetch = ca.Issue("fetch", "Fetching Signer", "cdp_ext", f.servedCrlUrl);
  f.deadFetchUrl = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/ca.crl";
  const std::string dead = ca.Issue("dead", "Dead Link Signer", "cdp_ext", f.deadFetchUrl);
  const std::string tsaCert = tsa.Issue("tsa", "Brevick Test TSA", "tsa_ext");
  const std::string tsaGone = tsa.Issue("gone", "Brevick Revoked TSA", "tsa_ext");
  const std::string leafKey = ca.Path("good.key");
  WriteWhole(f.dir / "ts.cnf", TsaConfig(f.dir));
  WriteWhole(f.dir / "tsaserial", "01\n");

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
  f.expiredTs = WriteBytes(f.dir, "brief-ts.p7", stamp(brief, tsaCert));
  f.expired = WriteBytes(f.dir, "brief.p7", Sign(brief));
  f.goodTs = WriteBytes(f.dir, "good-ts.p7", stamp(good, tsaCert));
  f.good = WriteBytes(f.dir, "good.p7", Sign(good));
  f.revokedEarlyTs = WriteBytes(f.dir, "early-ts.p7", stamp(early, tsaCert));
  f.revokedLateTs = WriteBytes(f.dir, "late-ts.p7", stamp(late, tsaCert));
  f.revokedLate = WriteBytes(f.dir, "late.p7", Sign(late));
  f.revokedTsaTs = WriteBytes(f.dir, "gone-tsa-ts.p7", stamp(good, tsaGone));
  f.foreignTokenTs = WriteBytes(f.dir, "foreign-ts.p7", stamp(good, tsaCert, "other bytes"));
  f.fetchTs = WriteBytes(f.dir, "fetch-ts.p7", stamp(fetch, tsaCert));
  f.deadFetch = WriteBytes(f.dir, "dead.p7", Sign(dead));

  // Revocation dates have whole seconds: the later ones must fall after
  // every token's time, not within its second.
  WaitUntilAfter(std::time(nullptr));
  ca.Revoke("late", "superseded");
  tsa.Revoke("gone", "keyCompromise");
  f.revokedLateAt = std::time(nullptr);

  f.caCrl = ca.GenerateCrl("ca.crl");
  f.tsaCrl = tsa.GenerateCrl("tsa.crl");
  f.otherCrl = other.GenerateCrl("other.crl");
  f.expiredCrl =
      ca.GenerateCrl("expired.crl", "-crl_lastupdate " + GeneralizedTime(start - 172800) +
                                        " -crl_nextupdate " + GeneralizedTime(start - 86400));
  f.bothCrls = (f.dir / "both.pem").string();
  WriteWhole(f.bothCrls, ReadFileBytes(f.caCrl) + ReadFileBytes(f.tsaCrl));
  Shell(f.dir, "openssl crl -in " + Quote(f.caCrl) + " -outform DER -out " +
                   Quote((f.dir / "served" / "ca.crl").string()));
  WaitUntilAfter(briefEnd);
}

}  // namespace

std::string UtcText(std::time_t time) {
  std::tm parts{};
  ::gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

const CaFixture& SharedCaFixture() {
  static Made made;  // destroyed at exit, which stops the HTTP server
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
