// tests/support/tsa_server.cc: makes the TSA's certificates and configuration,
// then starts tsa_server.py with pipes on its standard input (held open
// while the server should live) and output (its two port numbers).
#include "tests/support/tsa_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

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
  int input[2], output[2];
  // Close-on-exec: a brevick run forked by a test must not hold the server's
  // standard input open after the test is done.
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  const std::string script = std::string(BREVICK_SOURCE_DIR) + "/tests/support/tsa_server.py";
  pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(input[0], 0);
    dup2(output[1], 1);
    execlp("python3", "python3", script.c_str(), work.Path().c_str(), nullptr);
    _exit(127);
  }
  close(input[0]);
  close(output[1]);
  stdinFd = input[1];
  FILE* ports = fdopen(output[0], "r");
  const int count = std::fscanf(ports, "%d %d", &port, &refusedPort);
  std::fclose(ports);
  if (count != 2 || port == 0 || refusedPort == 0)
    throw std::runtime_error("the test TSA did not start");
}

TsaServer::~TsaServer() {
  close(stdinFd);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) < 0) kill(pid, SIGKILL);
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
