// tests/support/tsa_server.cc: makes the TSA's certificates and configuration,
// then starts tsa_server.py, which writes its two port numbers to a file.
#include "tests/support/tsa_server.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace brevick::testing {
namespace {

constexpr int kRootKey = 2;

}  // namespace

TsaServer::TsaServer() : authority(work.Path(), "Brevick Test TSA Root", kRootKey) {
  // libcurl takes proxies from the environment; none may stand between the
  // tests (in this process and the runs they start) and 127.0.0.1.
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  setenv("NO_PROXY", "127.0.0.1,localhost", 1);
  authority.Issue("tsa", "Brevick Test TSA", TsaSpec());
  authority.Issue("noeku", "Brevick Test No EKU", {.keyUsage = "critical,digitalSignature"});
  authority.Issue("codesign", "Brevick Test Code Signer",
                  {.keyUsage = "critical,digitalSignature", .extendedKeyUsage = "codeSigning"});
  std::filesystem::create_directories(CrlDirectory());
  work.WriteFile("tsa.cnf",
                 "[ tsa ]\ndefault_tsa = own\n[ own ]\nserial = " + authority.Path("tsaserial") +
                     "\nsigner_cert = " + authority.Path("tsa.pem") +
                     "\nsigner_key = " + authority.Path("leaf.key") +
                     "\nsigner_digest = sha256\ndefault_policy = 1.3.6.1.4.1.99999.1\n"
                     "digests = sha256, sha384, sha512\ness_cert_id_alg = sha256\n");
  // The server lives while its standard input is open: `input`, which no
  // run a test starts inherits (close-on-exec).
  const std::string script = std::string(BREVICK_SOURCE_DIR) + "/tests/support/tsa_server.py";
  const std::filesystem::path ports = work.Path() / "ports";
  input = popen(
      ("exec python3 '" + script + "' '" + work.Path().string() + "' >'" + ports.string() + "'")
          .c_str(),
      "we");
  for (int tries = 0; tries < 400 && !(std::ifstream(ports) >> port >> refusedPort); ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (input == nullptr || port == 0 || refusedPort == 0)
    throw std::runtime_error("the test TSA did not start");
}

TsaServer::~TsaServer() {
  if (input != nullptr) pclose(input);
}

TsaServer& TsaServer::Shared() {
  static TsaServer server;
  return server;
}

std::string TsaServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port) + "/" + std::string(path);
}

std::string TsaServer::RefusedUrl() const {
  return "http://127.0.0.1:" + std::to_string(refusedPort) + "/tsa";
}

}  // namespace brevick::testing
