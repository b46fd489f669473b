// tests/support/signing_run.h: whole runs of the built executable that sign:
// a working directory of their own and a home whose store "My" holds one
// signer, so that no run sees the user's files or certificate stores.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pki/openssl_handles.h"
#include "tests/support/process.h"
#include "tests/support/signing_certs.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {

// The signer's subject is "O=Example, CN=Run Signer"; any piece of it, in any
// letter case, chooses it.
inline constexpr char kRunSigner[] = "Run Signer";

class SigningRunTest : public ::testing::Test {
 protected:
  SigningRunTest();

  // Runs brevick in `work` with the home of `stores`; `options` may add to
  // the environment and say where the output streams go.
  ProcessResult Run(const std::vector<std::string>& args, ProcessOptions options = {}) const;
  // The exact console of a run that failed with `errors` and nothing else.
  static std::string FailedWith(const std::string& errors);
  std::filesystem::path Out() const { return work.Path() / "out.p7"; }
  // The bytes of a file in `work`; "<none>" when there is no such file.
  std::string Read(const std::string& name) const;
  // The smallest package: m.xml naming one module file, bin/a.dll ("abc").
  void Package() const;

  StoreHome stores;
  TempDir work;
  X509Ptr certificate;
};

}  // namespace brevick::testing
