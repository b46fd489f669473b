// tests/support/tsa_server.h: a real local time-stamp authority for the tests
// (tests/support/tsa_server.py: python3's http.server answering with
// `openssl ts -reply`), started once per test process and shared. It also
// serves the files of its CRL directory under /crl/.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "tests/support/temp_dir.h"

namespace brevick::testing {

class TsaServer {
 public:
  // Starts the server (its keys and certificates are made on the way);
  // throws std::runtime_error when it does not come up. Sets no_proxy for
  // 127.0.0.1, so that a proxy in the environment is not asked for it.
  TsaServer();
  ~TsaServer();
  TsaServer(const TsaServer&) = delete;
  TsaServer& operator=(const TsaServer&) = delete;

  // The server shared by every test of the process, started on first use.
  static TsaServer& Shared();

  // "http://127.0.0.1:PORT/" + path: "tsa", "http404", "slow/3", ... (see
  // the script for the list).
  std::string Url(std::string_view path = "tsa") const;
  // A URL on 127.0.0.1 whose connections are refused.
  std::string RefusedUrl() const;
  // The anchor of the TSA's certificates (root.crt); tsa.crt is the TSA's own.
  std::filesystem::path RootCertificate() const;
  std::filesystem::path Directory() const { return work.Path(); }
  // What /crl/NAME serves: the file NAME put here.
  std::filesystem::path CrlDirectory() const { return work.Path() / "crl"; }

 private:
  TempDir work;
  pid_t pid = -1;
  int stdinFd = -1;  // closing it ends the server
  int port = 0;
  int refusedPort = 0;
};

}  // namespace brevick::testing
