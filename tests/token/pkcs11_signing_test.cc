// Signing with a key held on a real SoftHSM 2 token: every way signing on a
// token can fail, the signature the same key in a file would make, what the
// executable tells of a failure, and the description of a token key.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

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
  // PKCS #1 v1.5 signatures are deterministic: what the token signs must be
  // what the same key in a file signs, byte for byte.
  std::string SignReason(const std::string& uriText, X509* signer) {
    const std::vector<std::uint8_t> content = Bytes("content");
    const std::vector<std::uint8_t> digestInfo = DigestInfo(DigestAlgorithm::kMd2, content);
    std::vector<std::uint8_t> signature, message;
    const TokenOutcome outcome =
        SignOnToken(ParsePkcs11Uri(uriText).uri, signer, digestInfo, signature);
    EXPECT_EQ(outcome.error == TokenError::kNone, !signature.empty()) << outcome.reason;
    const DigestInfoSigner onToken = [&](std::span<const std::uint8_t>) { return signature; };
    if (outcome.error == TokenError::kNone &&
        BuildSignedMessageOver(signer, nullptr, content, DigestAlgorithm::kMd2, digestInfo, message,
                               &onToken)) {
      EXPECT_EQ(SignedMessage(signer, TestRsaKey(0), content), message);
    }
    return outcome.reason;
  }

  std::unique_ptr<SoftHsmToken> token;
  TempDir work;
  X509Ptr certificate;
  ScopedEnv noPin{kPkcs11PinVariable, std::nullopt};
};

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
  // `environment`: the PIN variable; `reason`: how it begins, empty: signs.
  // clang-format off
  const struct { const char* what; std::string uri; std::optional<std::string> environment; X509* signer; std::string reason; } cases[] = {
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
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ScopedEnv pinVariable(kPkcs11PinVariable, c.environment);
    const std::string reason = SignReason(c.uri, c.signer);
    EXPECT_EQ(c.reason.empty(), reason.empty()) << reason;
    EXPECT_EQ(0u, reason.find(c.reason)) << reason;
    EXPECT_EQ(std::string::npos, reason.find('\n')) << reason;
  }
}

// Through the executable: the key on the token signs the example package, and
// a token that fails says why in one line beside the report on standard
// output, leaving no file behind.
TEST_F(Pkcs11SigningTest, TheExecutableSignsOnTheTokenOrSaysWhyInOneLine) {
  const StoreHome stores;
  stores.AddFile("My", "signer.pem", PemOf(certificate.get()));
  const std::string example = std::string(BREVICK_SOURCE_DIR) + "/examples/package";
  // clang-format off
  const struct { std::string pin; int exitCode; std::string errors; } cases[] = {
      {kUserPin, 0, ""},
      {"9999", 1, "brevick: login to PKCS #11 token 'release' failed: wrong PIN (tokens lock the PIN after a few wrong tries)\n"},
  };
  // clang-format on
  for (const auto& c : cases) {
    stores.AddFile("My", "signer.key", TokenUri("&pin-value=" + c.pin) + "\n");
    const std::filesystem::path out = work.Path() / (c.pin + ".p7");
    const ProcessResult run =
        RunBrevick({"-R", example + "/src", example + "/manifest.xml", out.string(), kSubject});
    EXPECT_EQ(c.exitCode, run.exitCode);
    EXPECT_EQ(c.errors, WithoutSigningNotices(run.errors));
    std::vector<std::uint8_t> content;
    if (c.exitCode == 0) {
      EXPECT_EQ(CryptoResult::kOk, VerifySignedMessage(Bytes(ReadFileBytes(out)), content));
    } else {
      EXPECT_EQ(Banner() + "\nThere were errors:\nCan't sign data\n", run.output);
      EXPECT_FALSE(std::filesystem::exists(out));
    }
  }
}

// README's two-machine set-up: a build machine without the token signs through
// p11-kit's client module while `p11-kit server` offers the token on a socket.
TEST_F(Pkcs11SigningTest, SignsThroughAP11KitServerAsABuildMachineWithoutTheTokenDoes) {
  const std::string client = BREVICK_P11_MODULE_DIR "/p11-kit-client.so";
  if (access(client.c_str(), R_OK) != 0 || std::system("command -v p11-kit >/dev/null") != 0)
    GTEST_SKIP() << "p11-kit or " << client << " is not installed";
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
  const StoreHome stores;
  stores.AddFile("My", "signer.pem", PemOf(certificate.get()));
  stores.AddFile("My", "signer.key",
                 std::string("pkcs11:token=") + kTokenLabel + ";object=" + kKeyLabel +
                     "?module-path=" + client + "&pin-value=" + kUserPin + "\n");
  const std::string example = std::string(BREVICK_SOURCE_DIR) + "/examples/package";
  for (const bool serving : {true, false}) {
    const std::filesystem::path at = serving ? socket : work.Path() / "none.sock";
    const ScopedEnv address("P11_KIT_SERVER_ADDRESS", "unix:path=" + at.string());
    const std::filesystem::path out = work.Path() / (serving ? "served.p7" : "none.p7");
    const ProcessResult run =
        RunBrevick({"-R", example + "/src", example + "/manifest.xml", out.string(), kSubject});
    EXPECT_EQ(serving ? 0 : 1, run.exitCode) << run.errors;
    EXPECT_EQ(serving, std::filesystem::exists(out));
  }
}

TEST_F(Pkcs11SigningTest, DescribesTheTokenKeyAndWhetherItCanBeReached) {
  const ScopedEnv pin(kPkcs11PinVariable, kUserPin);
  const std::wstring release = L"PKCS #11 token 'release', object 'signing-key'";
  // clang-format off
  const struct { std::string uri; std::wstring text; bool reachable; } cases[] = {
      {TokenUri(""), release, true},
      {"pkcs11:id=%01" + kModule, release, true},  // the labels found on the token
      // Debian's softhsm2 registers its module with p11-kit as "softhsm2".
      {"pkcs11:token=release;object=signing-key?module-name=softhsm2", release, true},
      {"pkcs11:token=release;object=signing-key", release, true},  // p11-kit's proxy
      {TokenUri("&pin-source=file:/nonexistent/pin"), release, false},
      {"pkcs11:token=nosuch;object=k" + kModule, L"PKCS #11 token 'nosuch', object 'k'", false},
      {"pkcs11:token=t;object=k?module-path=/nonexistent/m.so", L"PKCS #11 token 't', object 'k'", false},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uri);
    const Pkcs11UriParse parsed = ParsePkcs11Uri(c.uri);
    bool reachable = !c.reachable;
    EXPECT_EQ(c.text, DescribeTokenKey(parsed.uri, reachable));
    EXPECT_EQ(c.reachable, reachable);
  }
}

}  // namespace
}  // namespace brevick::testing
