// Signing with a key held on a real SoftHSM 2 token: the example package
// signed through the built executable, each way it can fail on its own, the
// listing, the description of a token key, and the token reached through a
// p11-kit server as a build machine without the token reaches it.
#include <fcntl.h>
#include <openssl/rsa.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cms/signed_message.h"
#include "pki/crypto_result.h"
#include "pki/pkcs11_uri.h"
#include "tests/support/process.h"
#include "tests/support/signing_certs.h"
#include "tests/support/softhsm_token.h"
#include "tests/support/temp_dir.h"
#include "token/pkcs11_token.h"

namespace brevick::testing {
namespace {

constexpr const char* kSubject = "Token Signer";
const std::string kExample = std::string(BREVICK_SOURCE_DIR) + "/examples/package";

std::string TokenUri(const std::string& extraPath, const std::string& query) {
  return std::string("pkcs11:token=") + kTokenLabel + ";object=" + kKeyLabel + ";type=private" +
         extraPath + "?module-path=" + kSoftHsmModule + query;
}

// Whether the message's signature, checked with OpenSSL against `certificate`
// (not the one the message carries), covers the DigestInfo of its content.
bool SignedBy(const std::string& message, X509* certificate) {
  const unsigned char* next = reinterpret_cast<const unsigned char*>(message.data());
  const Pkcs7Ptr decoded(d2i_PKCS7(nullptr, &next, static_cast<long>(message.size())));
  if (!decoded || !PKCS7_type_is_signed(decoded.get())) return false;
  const ASN1_OCTET_STRING* content = decoded->d.sign->contents->d.data;
  const PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(decoded->d.sign->signer_info, 0);
  if (content == nullptr || info == nullptr) return false;
  const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new(X509_get0_pubkey(certificate), nullptr));
  std::vector<std::uint8_t> recovered(512);
  std::size_t size = recovered.size();
  if (EVP_PKEY_verify_recover_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_verify_recover(
          context.get(), recovered.data(), &size, ASN1_STRING_get0_data(info->enc_digest),
          static_cast<std::size_t>(ASN1_STRING_length(info->enc_digest))) != 1) {
    return false;
  }
  recovered.resize(size);
  return recovered == DigestInfo(DigestAlgorithm::kMd2,
                                 std::span(ASN1_STRING_get0_data(content),
                                           static_cast<std::size_t>(ASN1_STRING_length(content))));
}

class Pkcs11SigningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = SoftHsmMissing(); !missing.empty()) GTEST_SKIP() << missing;
    token = std::make_unique<SoftHsmToken>();
    certificate = MakeCertificate(TestRsaKey(0), {{"O", "Example"}, {"CN", kSubject}});
  }

  // The certificate in store "My" with `keyLine` as its signer.key.
  void AddTokenEntry(X509* cert, const std::string& keyLine) {
    stores.AddFile("My", "signer.pem", PemOf(cert));
    stores.AddFile("My", "signer.key", keyLine + "\n");
  }

  ProcessResult SignExample(const std::string& output = "out.p7") {
    ProcessOptions options;
    options.workingDirectory = work.Path().string();
    return RunBrevick({"-R", kExample + "/src", kExample + "/manifest.xml", output, kSubject},
                      options);
  }

  std::unique_ptr<SoftHsmToken> token;
  StoreHome stores;
  TempDir work;
  X509Ptr certificate;
  ScopedEnv noPin{kPkcs11PinVariable, std::nullopt};
};

TEST_F(Pkcs11SigningTest, SignsTheExamplePackageExactlyAsTheSameKeyInAFileWould) {
  AddTokenEntry(certificate.get(),
                TokenUri("", "&pin-source=file:" + token->WritePinFile(kUserPin)));
  const ProcessResult onToken = SignExample("token.p7");
  EXPECT_EQ(0, onToken.exitCode) << onToken.output << onToken.errors;
  EXPECT_EQ("", WithoutSigningNotices(onToken.errors));
  const std::string message = ReadFileBytes(work.Path() / "token.p7");
  EXPECT_TRUE(SignedBy(message, certificate.get()));

  // PKCS #1 v1.5 signatures are deterministic: the key in a file must give
  // the same message, byte for byte.
  stores.AddPemWithKey("My", "signer.pem", certificate.get(), TestRsaKey(0));
  std::filesystem::remove(stores.StoresDirectory() / "My" / "signer.key");
  const ProcessResult inFile = SignExample("file.p7");
  EXPECT_EQ(onToken.output, inFile.output);
  EXPECT_EQ(message, ReadFileBytes(work.Path() / "file.p7"));
}

TEST_F(Pkcs11SigningTest, TakesThePinFromFileThenEnvironmentThenUri) {
  const std::string rightFile = "&pin-source=file:" + token->WritePinFile(kUserPin);
  const std::filesystem::path crlf = token->Directory() / "pin-crlf";
  std::ofstream(crlf, std::ios::binary) << kUserPin << "\r\n";
  const struct {
    const char* what;
    std::string query;
    std::optional<std::string> environment;
    bool signs;
  } cases[] = {
      {"file", rightFile, std::nullopt, true},
      {"file before environment", rightFile, "9999", true},
      {"file written on Windows", "&pin-source=file:" + crlf.string(), std::nullopt, true},
      {"environment", "", kUserPin, true},
      {"environment before URI", "&pin-value=9999", kUserPin, true},
      {"URI", "&pin-value=1234", std::nullopt, true},
      {"wrong environment", "&pin-value=1234", "9999", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    AddTokenEntry(certificate.get(), TokenUri("", c.query));
    const ScopedEnv pin(kPkcs11PinVariable, c.environment);
    const ProcessResult result = SignExample();
    EXPECT_EQ(c.signs ? 0 : 1, result.exitCode) << result.errors;
  }
}

TEST_F(Pkcs11SigningTest, EachFailureSaysWhyOnStandardError) {
  const std::string pin = "&pin-value=1234";
  const struct {
    const char* what;
    std::string keyLine;
    int certificateKey;
    std::string reason;
  } cases[] = {
      // clang-format off
      {"wrong PIN", TokenUri("", "&pin-value=9999"), 0, "login to PKCS #11 token 'release' failed: wrong PIN"},
      {"no PIN", TokenUri("", ""), 0, "PKCS #11 token 'release' needs a PIN"},
      {"unreadable PIN file", TokenUri("", "&pin-source=file:/nonexistent/pin"), 0, "cannot read the PIN file '/nonexistent/pin': No such file or directory"},
      {"PIN file that is no file", TokenUri("", "&pin-source=file:/"), 0, "cannot read the PIN file '/': "},
      {"missing token", "pkcs11:token=nosuch;object=signing-key?module-path=" + std::string(kSoftHsmModule) + pin, 0, "no PKCS #11 token matches the key's URI (token 'nosuch'); tokens seen: 'release' in slot"},
      {"object that is not there", "pkcs11:token=release;object=other-key?module-path=" + std::string(kSoftHsmModule) + pin, 0, "PKCS #11 token 'release' holds no private key object 'other-key'"},
      {"wrong id", "pkcs11:token=release;id=%02?module-path=" + std::string(kSoftHsmModule) + pin, 0, "PKCS #11 token 'release' holds no private key with the given id"},
      {"not a private key", "pkcs11:token=release;object=signing-key;type=cert?module-path=" + std::string(kSoftHsmModule) + pin, 0, "the key's URI names type=cert, but signing needs a private key"},
      {"module that does not exist", "pkcs11:token=release?module-path=/nonexistent/libmissing.so" + pin, 0, "cannot load the PKCS #11 module '/nonexistent/libmissing.so': " "/nonexistent/libmissing.so: cannot open shared object file"},
      {"library that is no module", "pkcs11:token=release?module-path=libz.so.1" + pin, 0, "'libz.so.1' is not a PKCS #11 module"},
      {"key of another certificate", TokenUri("", pin), 1, "the private key 'signing-key' on PKCS #11 token 'release' is not the RSA key of the " "certificate"},
      {"malformed URI", "pkcs11:token=release;object=a%zz", 0, "cannot sign with certificate 'Token Signer': signer.key: bad percent-encoding in the " "PKCS #11 URI at 'object=a%zz'"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const X509Ptr cert =
        MakeCertificate(TestRsaKey(c.certificateKey), {{"O", "Example"}, {"CN", kSubject}});
    AddTokenEntry(cert.get(), c.keyLine);
    const ProcessResult result = SignExample();
    EXPECT_EQ(Banner() + "\nThere were errors:\nCan't sign data\n", result.output);
    EXPECT_EQ(1, result.exitCode);
    const std::string reasons = WithoutSigningNotices(result.errors);
    EXPECT_NE(std::string::npos, reasons.find("brevick: " + c.reason)) << reasons;
    EXPECT_EQ(std::string::npos, reasons.find('\n', reasons.find('\n') + 1))
        << "one line: " << reasons;
  }
}

TEST_F(Pkcs11SigningTest, TokenThatRefusesTheMechanismIsReported) {
  // A key that may only make PSS signatures: its certificate carries the
  // token's public key, issued by another key since it cannot sign itself.
  const EvpPkeyPtr publicKey = token->GenerateKeyPair("pss-only", "02", "SHA256-RSA-PKCS-PSS");
  ASSERT_TRUE(publicKey);
  const X509Ptr pssCertificate = MakeCertificate(TestRsaKey(1), {{"CN", kSubject}});
  ASSERT_EQ(1, X509_set_pubkey(pssCertificate.get(), publicKey.get()));
  ASSERT_GT(X509_sign(pssCertificate.get(), TestRsaKey(1), EVP_sha256()), 0);
  AddTokenEntry(pssCertificate.get(), "pkcs11:token=release;object=pss-only?module-path=" +
                                          std::string(kSoftHsmModule) + "&pin-value=1234");
  const ProcessResult result = SignExample();
  EXPECT_EQ(1, result.exitCode);
  EXPECT_NE(std::string::npos,
            result.errors.find("brevick: PKCS #11 token 'release' refuses to sign with key "
                               "'pss-only' by raw RSA PKCS #1 v1.5 (CKM_RSA_PKCS): "
                               "CKR_MECHANISM_INVALID"))
      << result.errors;
}

TEST_F(Pkcs11SigningTest, ListingShowsTokenCertificatesLikeAnyOther) {
  AddTokenEntry(certificate.get(), TokenUri("", ""));
  const ProcessResult result = RunBrevick({"-L"});
  EXPECT_EQ(0, result.exitCode);
  EXPECT_NE(std::string::npos,
            result.output.find("Store 'My'\n Token Signer\nStore contained 1 certificate(s)\n"))
      << result.output;
  EXPECT_EQ("", result.errors);  // listing does not touch the token
}

TEST_F(Pkcs11SigningTest, DescribesTheTokenKeyAndWhetherItCanBeReached) {
  const struct {
    const char* what;
    std::string uri;
    std::wstring text;
    bool reachable;
  } cases[] = {
      // clang-format off
      {"reachable", TokenUri("", "&pin-value=1234"), L"PKCS #11 token 'release', object 'signing-key'", true},
      {"labels found on the token", "pkcs11:id=%01?module-path=" + std::string(kSoftHsmModule) + "&pin-value=1234", L"PKCS #11 token 'release', object 'signing-key'", true},
      // Debian's softhsm2 registers its module with p11-kit as "softhsm2".
      {"module by name", "pkcs11:token=release;object=signing-key?module-name=softhsm2", L"PKCS #11 token 'release', object 'signing-key'", true},
      {"p11-kit's proxy", "pkcs11:token=release;object=signing-key", L"PKCS #11 token 'release', object 'signing-key'", true},
      {"without the PIN", TokenUri("", ""), L"PKCS #11 token 'release', object 'signing-key'", false},
      {"missing token", "pkcs11:token=nosuch;object=k?module-path=" + std::string(kSoftHsmModule), L"PKCS #11 token 'nosuch', object 'k'", false},
      {"missing module", "pkcs11:token=t;object=k?module-path=/nonexistent/m.so", L"PKCS #11 token 't', object 'k'", false},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Pkcs11UriParse parsed = ParsePkcs11Uri(c.uri);
    ASSERT_EQ(Pkcs11UriError::kNone, parsed.error);
    const ScopedEnv pin(kPkcs11PinVariable, c.uri.find("module-path") == std::string::npos
                                                ? std::optional<std::string>(kUserPin)
                                                : std::nullopt);
    bool reachable = !c.reachable;
    EXPECT_EQ(c.text, DescribeTokenKey(parsed.uri, reachable));
    EXPECT_EQ(c.reachable, reachable);
  }
}

// `p11-kit server` in the foreground, serving the token "release" of the
// SoftHSM configuration in force on a unix socket, until destroyed.
class P11KitServer {
 public:
  explicit P11KitServer(const std::filesystem::path& path) : socket(path) {
    const std::string provider = std::string("--provider=") + kSoftHsmModule;
    const std::string token = std::string("pkcs11:token=") + kTokenLabel;
    pid = fork();
    if (pid == 0) {
      // Its stdout holds the shell commands that name the socket: not wanted.
      const int devNull = open("/dev/null", O_WRONLY);
      if (devNull >= 0) dup2(devNull, 1);
      execlp("p11-kit", "p11-kit", "server", "-f", "-n", socket.c_str(), provider.c_str(),
             token.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int tries = 0; tries < 100 && !std::filesystem::exists(socket); ++tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~P11KitServer() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  P11KitServer(const P11KitServer&) = delete;
  P11KitServer& operator=(const P11KitServer&) = delete;

  bool Listening() const { return pid > 0 && std::filesystem::exists(socket); }
  std::string Address() const { return "unix:path=" + socket.string(); }

 private:
  std::filesystem::path socket;
  pid_t pid = -1;
};

TEST_F(Pkcs11SigningTest, SignsThroughAP11KitServerAsABuildMachineWithoutTheTokenDoes) {
  const std::string client = BREVICK_P11_MODULE_DIR "/p11-kit-client.so";
  if (access(client.c_str(), R_OK) != 0 || std::system("command -v p11-kit >/dev/null") != 0)
    GTEST_SKIP() << "p11-kit or " << client << " is not installed";
  const P11KitServer server(token->Directory() / "p11-kit.sock");
  ASSERT_TRUE(server.Listening());
  // The build machine's side: no SoftHSM configuration, only the socket.
  const ScopedEnv noToken("SOFTHSM2_CONF", "/nonexistent/softhsm2.conf");
  const struct {
    const char* what;
    std::string address;
    const char* pin;
    const char* reason;  // empty: signs
  } cases[] = {
      // clang-format off
      {"through the server", server.Address(), kUserPin, ""},
      {"wrong PIN through the server", server.Address(), "9999", "login to PKCS #11 token 'release' failed: wrong PIN"},
      {"no server at the address", "unix:path=" + (work.Path() / "none.sock").string(), kUserPin, "no PKCS #11 token matches the key's URI (token 'release'); tokens seen: none"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ScopedEnv address("P11_KIT_SERVER_ADDRESS", c.address);
    AddTokenEntry(certificate.get(), std::string("pkcs11:token=") + kTokenLabel +
                                         ";object=" + kKeyLabel + "?module-path=" + client +
                                         "&pin-value=" + c.pin);
    std::filesystem::remove(work.Path() / "out.p7");
    const ProcessResult result = SignExample();
    if (*c.reason == '\0') {
      EXPECT_EQ(0, result.exitCode) << result.output << result.errors;
      EXPECT_TRUE(SignedBy(ReadFileBytes(work.Path() / "out.p7"), certificate.get()));
    } else {
      EXPECT_EQ(1, result.exitCode);
      EXPECT_NE(std::string::npos, result.errors.find(std::string("brevick: ") + c.reason))
          << result.errors;
    }
  }
}

}  // namespace
}  // namespace brevick::testing
