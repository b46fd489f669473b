// tests/support/softhsm_token.cc
#include "tests/support/softhsm_token.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace brevick::testing {
namespace {

// Runs a shell command, its output kept in `log`; false when it fails.
bool RunCommand(const std::string& command, const std::filesystem::path& log) {
  const std::string line = command + " >>'" + log.string() + "' 2>&1";
  return std::system(line.c_str()) == 0;
}

}  // namespace

std::string SoftHsmMissing() {
  if (access(kSoftHsmModule, R_OK) != 0) return std::string(kSoftHsmModule) + " is not installed";
  if (std::system("command -v softhsm2-util >/dev/null 2>&1") != 0)
    return "softhsm2-util is not installed";
  return {};
}

SoftHsmToken::SoftHsmToken(int keyIndex) : config("SOFTHSM2_CONF", std::nullopt) {
  const std::filesystem::path tokens = temp.Path() / "tokens";
  std::filesystem::create_directories(tokens);
  const std::filesystem::path conf =
      temp.WriteFile("softhsm2.conf", "directories.tokendir = " + tokens.string() +
                                          "\nobjectstore.backend = file\nlog.level = ERROR\n");
  setenv("SOFTHSM2_CONF", conf.c_str(), 1);  // put back by `config` at the end
  const std::filesystem::path key = temp.WriteFile("key.pem", PemOf(TestRsaKey(keyIndex)));
  const std::filesystem::path log = temp.Path() / "softhsm.log";
  const bool made =
      RunCommand(std::string("softhsm2-util --init-token --free --label ") + kTokenLabel +
                     " --pin " + kUserPin + " --so-pin 5678",
                 log) &&
      RunCommand("softhsm2-util --import '" + key.string() + "' --token " + kTokenLabel +
                     " --label " + kKeyLabel + " --id 01 --pin " + kUserPin,
                 log);
  std::filesystem::remove(key);  // from here on the key exists on the token only
  if (!made) ADD_FAILURE() << "SoftHSM token set-up failed:\n" << ReadFileBytes(log);
}

EvpPkeyPtr SoftHsmToken::GenerateKeyPair(const std::string& label, const std::string& id,
                                         const std::string& allowedMechanisms) const {
  const std::filesystem::path log = temp.Path() / "softhsm.log";
  const std::filesystem::path publicKey = temp.Path() / ("public-" + id + ".der");
  const std::string tool = std::string("pkcs11-tool --module ") + kSoftHsmModule;
  if (!RunCommand(tool + " --login --pin " + kUserPin +
                      " --keypairgen --key-type rsa:2048 --label " + label + " --id " + id +
                      " --allowed-mechanisms " + allowedMechanisms,
                  log) ||
      !RunCommand(
          tool + " --read-object --type pubkey --id " + id + " -o '" + publicKey.string() + "'",
          log)) {
    ADD_FAILURE() << "key generation on the token failed:\n" << ReadFileBytes(log);
    return nullptr;
  }
  const std::string der = ReadFileBytes(publicKey);
  const auto* next = reinterpret_cast<const unsigned char*>(der.data());
  return EvpPkeyPtr(d2i_PUBKEY(nullptr, &next, static_cast<long>(der.size())));
}

std::string SoftHsmToken::WritePinFile(const std::string& pin) const {
  return temp.WriteFile("pin", pin + "\n").string();
}

}  // namespace brevick::testing
