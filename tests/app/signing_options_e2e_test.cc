// Whole runs with the signing options: --digest, --thumbprint, --strict, the
// --certificates listing, and -L over a store whose name is not UTF-8.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/utf8.h"
#include "pki/certificate_info.h"
#include "tests/support/process.h"
#include "tests/support/signing_certs.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

constexpr const char* kManifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<dravanePackage>\n"
    "  <package name=\"P\" id=\"{00000000-0000-0000-0000-000000000001}\">\n"
    "    <modules>\n"
    "      <module name=\"A\" id=\"{00000000-0000-0000-0000-000000000002}\" host=\"Engine\" "
    "subPath=\"bin\">\n"
    "        <dependencies>\n"
    "          <dependency file=\"a.dll\" entryPoint=\"1\"><destination value=\"local\"/>"
    "<md5/></dependency>\n"
    "        </dependencies>\n"
    "      </module>\n"
    "    </modules>\n"
    "  </package>\n"
    "</dravanePackage>\n";

class SigningOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key = FixedSignerKey();
    fixed = FixedSignerCertificate();
    stores.AddPemWithKey("My", "fixed.pem", fixed.get(), key.get());
    package.WriteFile("bin/a.dll", "abc");
    package.WriteFile("m.xml", kManifest);
    sha256 = ToUtf8(ThumbprintText(Thumbprint(fixed.get(), ThumbprintKind::kSha256)));
  }

  ProcessResult Run(const std::vector<std::string>& args) {
    ProcessOptions options;
    options.workingDirectory = package.Path().string();
    return RunBrevick(args, options);
  }

  StoreHome stores;  // its XDG_DATA_HOME reaches the child
  TempDir package;
  EvpPkeyPtr key;
  X509Ptr fixed;
  std::string sha256;
};

TEST_F(SigningOptionsTest, DigestAndThumbprintRunsSignWhatOpensslVerifies) {
  const std::string sha1 = ToUtf8(ThumbprintText(Thumbprint(fixed.get(), ThumbprintKind::kSha1)));
  const struct {
    std::vector<std::string> args;
  } cases[] = {
      {{"m.xml", "out.p7", "Fixed Signer", "--digest", "sha512"}},
      {{"m.xml", "out.p7", "--thumbprint", sha1, "--digest", "sha256"}},  // no subject
      {{"--digest", "sha384", "m.xml", "out.p7", "fixed", "--thumbprint", sha256, "--strict"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2] + " " + c.args[3]);
    std::filesystem::remove(package.Path() / "out.p7");
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(Banner() + "\nDone\n", result.output);
    EXPECT_EQ("brevick: signed by Brevick Tests, Fixed Signer (SHA-256 " + sha256 + ")\n",
              result.errors);
    const std::string out = (package.Path() / "out.p7").string();
    EXPECT_EQ(0, std::system(("openssl cms -verify -inform DER -binary -noverify -in " + out +
                              " -out /dev/null 2>/dev/null")
                                 .c_str()));
  }
}

TEST_F(SigningOptionsTest, BadValuesAreUsageErrors) {
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      // clang-format off
      {{"m.xml", "out.p7", "x", "--digest", "SHA256"}, "brevick: --digest takes md2, sha256, sha384 or sha512, not 'SHA256'\n"},
      {{"m.xml", "out.p7", "x", "--thumbprint", "12:34"}, "brevick: --thumbprint takes a SHA-1 (40 hex digits) or SHA-256 (64) thumbprint, not " "'12:34'\n"},
      {{"m.xml", "out.p7", "x", "--digest"}, "brevick: --digest needs a value\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ(Banner() + UsageText(), result.output);
    EXPECT_EQ(c.error + kHelpPointer, result.errors);
  }
  // Without a thumbprint, two positionals are still too few.
  const ProcessResult result = Run({"m.xml", "out.p7", "--digest", "sha256"});
  EXPECT_EQ(1, result.exitCode);
  EXPECT_EQ(Banner() + UsageText(), result.output);
}

TEST_F(SigningOptionsTest, CertificatesModeListsEveryDetailWithoutBanner) {
  stores.AddFile("My", "keyless.cer", DerOf(fixed.get()));
  stores.AddFile("Other", "readme.txt", "not a certificate");
  const std::string block =
      "  Subject:     Brevick Tests, Fixed Signer\n"
      "  Issuer:      Brevick Tests, Fixed Signer\n"
      "  Serial:      1092\n"
      "  SHA-256:     " +
      sha256 +
      "\n"
      "  Valid from:  2026-12-06 19:30:31 UTC\n"
      "  Valid to:    2126-11-12 19:30:31 UTC (valid now)\n"
      "  Key:         RSA 2048 bits\n";
  const std::string my = "Store 'My'\n Certificate 'Fixed Signer' (fixed.pem)\n" + block +
                         "  Private key: usable for signing\n"
                         " Certificate 'Fixed Signer' (keyless.cer)\n" +
                         block +
                         "  Private key: none usable: no private key (no file keyless.key)\n"
                         "Store contained 2 certificate(s)\n";
  const std::string other = "Store 'Other'\nStore contained 0 certificate(s)\n";
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string output, errors;
  } cases[] = {
      // clang-format off
      {{"--certificates"}, 0, my + other, ""},
      {{"--certificates", "-S", "my"}, 0, "Store 'my'\n" + my.substr(my.find('\n') + 1), ""},
      {{"-S", "Nowhere", "--certificates"}, 1, "", "brevick: there is no certificate store 'Nowhere' in " + (stores.StoresDirectory()).string() + "\n"},
      {{"--certificates", "-P"}, 1, "", "brevick: --certificates takes only -S STORE and --probe beside it, not '-P'\n" + std::string(kHelpPointer)},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(c.exitCode, result.exitCode);
    EXPECT_EQ(c.output, result.output);
    EXPECT_EQ(c.errors, result.errors);
  }
}

// Listing never loads a token's module (nor spends a PIN try) unless asked.
TEST_F(SigningOptionsTest, ATokenKeyIsAskedForOnlyWithProbe) {
  stores.AddFile("Token", "tok.pem", PemOf(fixed.get()));
  stores.AddFile("Token", "tok.key",
                 "pkcs11:token=release;object=key?module-path=/nonexistent/module.so\n");
  const struct {
    std::vector<std::string> args;
    std::string keyLine;
  } cases[] = {
      // clang-format off
      {{"--certificates", "-S", "Token"}, "  Private key: PKCS #11 token 'release', object 'key', not asked (--probe asks the token)\n"},
      {{"--certificates", "--probe", "-S", "Token"}, ", not reachable now\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(0, result.exitCode);
    EXPECT_NE(std::string::npos, result.output.find(c.keyLine)) << result.output;
  }
}

TEST_F(SigningOptionsTest, AStoreNameThatIsNotUtf8IsListedAndHidesNothing) {
  stores.AddPemWithKey("\xff", "f.pem", fixed.get(), key.get());
  stores.AddPemWithKey("Zeta", "z.pem", fixed.get(), key.get());
  const ProcessResult result = Run({"-L"});
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ(Banner() +
                "Store 'My'\n Fixed Signer\nStore contained 1 certificate(s)\n"
                "Store 'Zeta'\n Fixed Signer\nStore contained 1 certificate(s)\n"
                "Store '\xEF\xBF\xBD'\n Fixed Signer\nStore contained 1 certificate(s)\n"
                "\nDone\n",
            result.output);
}

}  // namespace
}  // namespace brevick::testing
