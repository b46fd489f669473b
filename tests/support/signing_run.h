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

  // Runs brevick in `work` with the home of `stores`.
  ProcessResult Run(const std::vector<std::string>& args, long addressSpaceLimitBytes = 0) const;
  // The exact console of a run that failed with `errors` and nothing else.
  static std::string FailedWith(const std::string& errors);
  std::filesystem::path Out() const { return work.Path() / "out.p7"; }

  StoreHome stores;
  TempDir work;
  X509Ptr certificate;
};

}  // namespace brevick::testing
