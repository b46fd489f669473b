// tests/support/softhsm_token.cc
#include "tests/support/softhsm_token.h"

#include <unistd.h>

#include <cstdlib>

#include "tests/support/process.h"

namespace brevick::testing {

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
  Shell(temp.Path(), std::string("softhsm2-util --init-token --free --label ") + kTokenLabel +
                         " --pin " + kUserPin + " --so-pin 5678");
  Shell(temp.Path(), "softhsm2-util --import '" + key.string() + "' --token " + kTokenLabel +
                         " --label " + kKeyLabel + " --id 01 --pin " + kUserPin);
  std::filesystem::remove(key);  // from here on the key exists on the token only
}

EvpPkeyPtr SoftHsmToken::GenerateKeyPair(const std::string& label, const std::string& id,
                                         const std::string& allowedMechanisms) const {
  const std::filesystem::path publicKey = temp.Path() / ("public-" + id + ".der");
  const std::string tool = std::string("pkcs11-tool --module ") + kSoftHsmModule;
  Shell(temp.Path(), tool + " --login --pin " + kUserPin +
                         " --keypairgen --key-type rsa:2048 --label " + label + " --id " + id +
                         " --allowed-mechanisms " + allowedMechanisms);
  Shell(temp.Path(),
        tool + " --read-object --type pubkey --id " + id + " -o '" + publicKey.string() + "'");
  const std::string der = ReadFileBytes(publicKey);
  const auto* next = reinterpret_cast<const unsigned char*>(der.data());
  return EvpPkeyPtr(d2i_PUBKEY(nullptr, &next, static_cast<long>(der.size())));
}

std::string SoftHsmToken::WritePinFile(const std::string& pin) const {
  return temp.WriteFile("pin", pin + "\n").string();
}

}  // namespace brevick::testing
