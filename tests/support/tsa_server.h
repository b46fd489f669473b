// tests/support/tsa_server.h: a real local time-stamp authority for the tests
// (tests/support/tsa_server.py: python3's http.server answering with
// `openssl ts -reply`), started once per test process and shared. Its
// certificates come from a TestAuthority; it also serves the files of its
// CRL directory under /crl/.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "tests/support/ca_fixture.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {

class TsaServer {
 public:
  // Makes the TSA's certificates and starts the server; throws
  // std::runtime_error when it does not come up. Sets no_proxy for
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
  // CN=Brevick Test TSA Root: it issued tsa.pem (CN=Brevick Test TSA),
  // noeku.pem (no extended key usage) and codesign.pem (codeSigning only),
  // and its tsa.cnf configures `openssl ts -reply`.
  TestAuthority& Authority() { return authority; }
  std::filesystem::path RootCertificate() const { return authority.Path("ca.pem"); }
  // What /crl/NAME serves: the file NAME put here.
  std::filesystem::path CrlDirectory() const { return authority.Path("crl"); }

 private:
  TempDir work;
  TestAuthority authority;
  FILE* input = nullptr;  // the server's standard input: closing it ends the server
  int port = 0;
  int refusedPort = 0;
};

}  // namespace brevick::testing
