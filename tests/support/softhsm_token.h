// tests/support/softhsm_token.h: a fresh SoftHSM 2 token in a temporary
// directory, holding one of the test RSA keys, for the PKCS #11 tests.
#pragma once

#include <filesystem>
#include <string>

#include "pki/openssl_handles.h"
#include "tests/support/signing_certs.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {

// SoftHSM's module as Debian installs it.
inline constexpr char kSoftHsmModule[] = "/usr/lib/softhsm/libsofthsm2.so";
inline constexpr char kTokenLabel[] = "release";
inline constexpr char kKeyLabel[] = "signing-key";
inline constexpr char kUserPin[] = "1234";

// Empty when SoftHSM and its tools are installed, else why not.
std::string SoftHsmMissing();

// A token labelled "release" (user PIN 1234) with TestRsaKey(keyIndex)
// imported as the private key "signing-key", id 01. SOFTHSM2_CONF points at
// its configuration while it lives, so the module and child processes see
// it.
class SoftHsmToken {
 public:
  explicit SoftHsmToken(int keyIndex = 0);

  const std::filesystem::path& Directory() const { return temp.Path(); }
  // Generates an RSA 2048 key pair on the token, usable only with the
  // mechanisms listed (pkcs11-tool names, comma-separated); its public key.
  EvpPkeyPtr GenerateKeyPair(const std::string& label, const std::string& id,
                             const std::string& allowedMechanisms) const;
  // Writes `pin` and a line end to a file of the token directory; its path.
  std::string WritePinFile(const std::string& pin) const;

 private:
  TempDir temp;
  ScopedEnv config;
};

}  // namespace brevick::testing
