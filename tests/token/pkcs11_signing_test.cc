// Signing with a key held on a real SoftHSM 2 token: the example package
// signed through the built executable, every way signing on a token can fail,
// the description of a token key, and the token reached through a p11-kit
// server as a build machine without the token reaches it.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "cms/signed_message.h"
#include "pki/pkcs11_uri.h"
#include "tests/support/bytes.h"
#include "tests/support/process.h"
#include "tests/support/signing_certs.h"
#include "tests/support/softhsm_token.h"
#include "token/pkcs11_token.h"

namespace brevick::testing {
namespace {

constexpr const char* kSubject = "Token Signer";
const std::string kModule = std::string("?module-path=") + kSoftHsmModule;

std::string TokenUri(const std::string& query, const std::string& path = ";object=signing-key") {
  return std::string("pkcs11:token=") + kTokenLabel + path + kModule + query;
}

class Pkcs11SigningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = SoftHsmMissing(); !missing.empty()) GTEST_SKIP() << missing;
    token = std::make_unique<SoftHsmToken>();
    certificate = MakeCertificate(TestRsaKey(0), {{"O", "Example"}, {"CN", kSubject}});
  }

  // Signs a DigestInfo on the token the URI names, for `signer`: empty when
  // it signs, else the reason the operator is given.
  std::string SignReason(const std::string& uriText, X509* signer) {
    std::vector<std::uint8_t> signature;
    const TokenOutcome outcome =
        SignOnToken(ParsePkcs11Uri(uriText).uri, signer,
                    DigestInfo(DigestAlgorithm::kMd2, Bytes("content")), signature);
    EXPECT_EQ(outcome.error == TokenError::kNone, !signature.empty()) << outcome.reason;
    return outcome.reason;
  }

  void AddTokenEntry(const std::string& keyLine) {
    stores.AddFile("My", "signer.pem", PemOf(certificate.get()));
    stores.AddFile("My", "signer.key", keyLine + "\n");
  }

  ProcessResult SignExample(const std::string& output) {
    const std::string example = std::string(BREVICK_SOURCE_DIR) + "/examples/package";
    return RunBrevick({"-R", example + "/src", example + "/manifest.xml", output, kSubject},
                      {.workingDirectory = work.Path().string()});
  }

  std::unique_ptr<SoftHsmToken> token;
  StoreHome stores;
  TempDir work;
  X509Ptr certificate;
  ScopedEnv noPin{kPkcs11PinVariable, std::nullopt};
};

TEST_F(Pkcs11SigningTest, SignsTheExamplePackageExactlyAsTheSameKeyInAFileWould) {
  AddTokenEntry(TokenUri("&pin-source=file:" + token->WritePinFile(kUserPin)));
  const ProcessResult onToken = SignExample("token.p7");
  EXPECT_EQ(0, onToken.exitCode) << onToken.output << onToken.errors;
  EXPECT_EQ("", WithoutSigningNotices(onToken.errors));
  const std::string message = ReadFileBytes(work.Path() / "token.p7");

  // PKCS #1 v1.5 signatures are deterministic: the key in a file must give
  // the same message, byte for byte.
  stores.AddPemWithKey("My", "signer.pem", certificate.get(), TestRsaKey(0));
  std::filesystem::remove(stores.StoresDirectory() / "My" / "signer.key");
  const ProcessResult inFile = SignExample("file.p7");
  EXPECT_EQ(onToken.output, inFile.output);
  EXPECT_EQ(message, ReadFileBytes(work.Path() / "file.p7"));

  // A token that fails says why in one line, beside the report on standard output.
  AddTokenEntry(TokenUri("&pin-value=9999"));
  const ProcessResult failed = SignExample("failed.p7");
  EXPECT_EQ(1, failed.exitCode);
  EXPECT_EQ(Banner() + "\nThere were errors:\nCan't sign data\n", failed.output);
  const std::string errors = WithoutSigningNotices(failed.errors);
  EXPECT_EQ(0u, errors.find("brevick: login to PKCS #11 token 'release' failed: wrong PIN"));
  EXPECT_EQ(errors.size() - 1, errors.find('\n')) << "one line: " << errors;
  EXPECT_FALSE(std::filesystem::exists(work.Path() / "failed.p7"));
}

TEST_F(Pkcs11SigningTest, TakesThePinFromFileThenEnvironmentThenUriAndSaysWhyEachFailureFails) {
  const std::string file = "&pin-source=file:" + token->WritePinFile(kUserPin);
  const std::string crlf =
      "&pin-source=file:" + work.WriteFile("pin-crlf", std::string(kUserPin) + "\r\n").string();
  // A key that may only make PSS signatures: its certificate carries the
  // token's public key, issued by another key since it cannot sign itself.
  const EvpPkeyPtr pssKey = token->GenerateKeyPair("pss-only", "02", "SHA256-RSA-PKCS-PSS");
  ASSERT_TRUE(pssKey);
  const X509Ptr pss = MakeCertificate(TestRsaKey(1), {{"CN", kSubject}});
  ASSERT_EQ(1, X509_set_pubkey(pss.get(), pssKey.get()));
  ASSERT_GT(X509_sign(pss.get(), TestRsaKey(1), EVP_sha256()), 0);
  const X509Ptr other = MakeCertificate(TestRsaKey(1), {{"CN", kSubject}});
  X509* const mine = certificate.get();
  const std::string pin = "&pin-value=1234";
  const struct {
    const char* what;
    std::string uri;
    std::optional<std::string> environment;  // the PIN variable
    X509* signer;
    std::string reason;  // how it begins; empty: signs
  } cases[] = {
      // clang-format off
      {"PIN file", TokenUri(file), {}, mine, ""},
      {"file before environment", TokenUri(file), "9999", mine, ""},
      {"file written on Windows", TokenUri(crlf), {}, mine, ""},
      {"environment", TokenUri(""), kUserPin, mine, ""},
      {"environment before URI", TokenUri("&pin-value=9999"), kUserPin, mine, ""},
      {"URI", TokenUri(pin), {}, mine, ""},
      {"wrong environment", TokenUri(pin), "9999", mine, "login to PKCS #11 token 'release' failed: wrong PIN"},
      {"wrong PIN", TokenUri("&pin-value=9999"), {}, mine, "login to PKCS #11 token 'release' failed: wrong PIN"},
      {"no PIN", TokenUri(""), {}, mine, "PKCS #11 token 'release' needs a PIN"},
      {"unreadable PIN file", TokenUri("&pin-source=file:/nonexistent/pin"), {}, mine, "cannot read the PIN file '/nonexistent/pin': No such file or directory"},
      {"PIN file that is no file", TokenUri("&pin-source=file:/"), {}, mine, "cannot read the PIN file '/': "},
      {"missing token", "pkcs11:token=nosuch" + kModule + pin, {}, mine, "no PKCS #11 token matches the key's URI (token 'nosuch'); tokens seen: 'release' in slot"},
      {"object that is not there", TokenUri(pin, ";object=other-key"), {}, mine, "PKCS #11 token 'release' holds no private key object 'other-key'"},
      {"wrong id", TokenUri(pin, ";id=%03"), {}, mine, "PKCS #11 token 'release' holds no private key with the given id"},
      {"not a private key", TokenUri(pin, ";type=cert"), {}, mine, "the key's URI names type=cert, but signing needs a private key"},
      {"module that does not exist", "pkcs11:?module-path=/nonexistent/libmissing.so" + pin, {}, mine, "cannot load the PKCS #11 module '/nonexistent/libmissing.so': /nonexistent/libmissing.so: cannot open shared object file"},
      {"library that is no module", "pkcs11:?module-path=libz.so.1" + pin, {}, mine, "'libz.so.1' is not a PKCS #11 module"},
      {"key of another certificate", TokenUri(pin), {}, other.get(), "the private key 'signing-key' on PKCS #11 token 'release' is not the RSA key of the certificate"},
      {"mechanism refused", TokenUri(pin, ";object=pss-only"), {}, pss.get(), "PKCS #11 token 'release' refuses to sign with key 'pss-only' by raw RSA PKCS #1 v1.5 (CKM_RSA_PKCS): CKR_MECHANISM_INVALID"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ScopedEnv pinVariable(kPkcs11PinVariable, c.environment);
    const std::string reason = SignReason(c.uri, c.signer);
    EXPECT_EQ(c.reason.empty(), reason.empty()) << reason;
    EXPECT_EQ(0u, reason.find(c.reason)) << reason;
    EXPECT_EQ(std::string::npos, reason.find('\n')) << reason;
  }
}

TEST_F(Pkcs11SigningTest, DescribesTheTokenKeyAndWhetherItCanBeReached) {
  const ScopedEnv pin(kPkcs11PinVariable, kUserPin);
  const std::wstring release = L"PKCS #11 token 'release', object 'signing-key'";
  const struct {
    std::string uri;
    std::wstring text;
    bool reachable;
  } cases[] = {
      // clang-format off
      {TokenUri(""), release, true},
      {"pkcs11:id=%01" + kModule, release, true},  // the labels found on the token
      // Debian's softhsm2 registers its module with p11-kit as "softhsm2".
      {"pkcs11:token=release;object=signing-key?module-name=softhsm2", release, true},
      {"pkcs11:token=release;object=signing-key", release, true},  // p11-kit's proxy
      {TokenUri("&pin-source=file:/nonexistent/pin"), release, false},
      {"pkcs11:token=nosuch;object=k" + kModule, L"PKCS #11 token 'nosuch', object 'k'", false},
      {"pkcs11:token=t;object=k?module-path=/nonexistent/m.so", L"PKCS #11 token 't', object 'k'", false},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uri);
    const Pkcs11UriParse parsed = ParsePkcs11Uri(c.uri);
    bool reachable = !c.reachable;
    EXPECT_EQ(c.text, DescribeTokenKey(parsed.uri, reachable));
    EXPECT_EQ(c.reachable, reachable);
  }
}

TEST_F(Pkcs11SigningTest, SignsThroughAP11KitServerAsABuildMachineWithoutTheTokenDoes) {
  const std::string client = BREVICK_P11_MODULE_DIR "/p11-kit-client.so";
  if (access(client.c_str(), R_OK) != 0 || std::system("command -v p11-kit >/dev/null") != 0)
    GTEST_SKIP() << "p11-kit or " << client << " is not installed";
  // The signing host's side: the token served on a unix socket, in the
  // background, until the test ends.
  const std::filesystem::path socket = token->Directory() / "p11-kit.sock";
  FILE* started = popen(("p11-kit server --sh -n " + socket.string() +
                         " --provider=" + kSoftHsmModule + " pkcs11:token=" + kTokenLabel)
                            .c_str(),
                        "r");
  ASSERT_NE(nullptr, started);
  pid_t server = -1;
  for (char line[512]; std::fgets(line, sizeof line, started) != nullptr;)
    std::sscanf(line, "P11_KIT_SERVER_PID=%d", &server);
  pclose(started);
  ASSERT_GT(server, 0);
  const std::shared_ptr<void> stop(nullptr, [server](void*) { kill(server, SIGTERM); });
  // The build machine's side: no SoftHSM configuration, only the socket.
  const ScopedEnv noToken("SOFTHSM2_CONF", "/nonexistent/softhsm2.conf");
  const std::string uri = std::string("pkcs11:token=") + kTokenLabel + ";object=" + kKeyLabel +
                          "?module-path=" + client + "&pin-value=" + kUserPin;
  // Through the executable: p11-kit's library reads the address once a process.
  for (const bool serving : {true, false}) {
    const std::filesystem::path at = serving ? socket : work.Path() / "none.sock";
    const ScopedEnv address("P11_KIT_SERVER_ADDRESS", "unix:path=" + at.string());
    AddTokenEntry(uri);
    const ProcessResult result = SignExample("out.p7");
    EXPECT_EQ(serving ? 0 : 1, result.exitCode) << result.errors;
  }
}

}  // namespace
}  // namespace brevick::testing
