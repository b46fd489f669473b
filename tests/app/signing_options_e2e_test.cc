// Whole runs with the signing options: --digest, --thumbprint, --strict, the
// --certificates listing, -L over a store whose name is not UTF-8, and
// timestamps from the local TSA: every way a try can fail, a second URL or
// round that serves, the token checked by openssl, keys in files and on a
// PKCS #11 token, and --add-timestamp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "base/utf8.h"
#include "cms/timestamp_token.h"
#include "pki/certificate_info.h"
#include "tests/support/bytes.h"
#include "tests/support/signing_run.h"
#include "tests/support/softhsm_token.h"
#include "tests/support/tsa_server.h"

namespace brevick::testing {
namespace {

constexpr const char* kPrevious = "the previous release\n";

// The package of Package() and the fixed 2048-bit signer, whose runs warn of
// nothing.
class SigningOptionsTest : public SigningRunTest {
 protected:
  void SetUp() override {
    key = FixedSignerKey();
    fixed = FixedSignerCertificate();
    std::filesystem::remove(stores.StoresDirectory() / "My" / "signer.pem");
    stores.AddPemWithKey("My", "fixed.pem", fixed.get(), key.get());
    Package();
    sha256 = ToUtf8(ThumbprintText(Thumbprint(fixed.get(), ThumbprintKind::kSha256)));
  }

  // Signs m.xml into `output`, with `extra` options after the positional ones.
  ProcessResult Sign(const std::string& output, const std::vector<std::string>& extra,
                     ProcessOptions options = {}) {
    std::vector<std::string> args = {"m.xml", output, "Fixed Signer"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Run(args, std::move(options));
  }

  EvpPkeyPtr key;
  X509Ptr fixed;
  std::string sha256;
};

// The TSA server is started once per test process and shared by its tests.
class TimestampTest : public SigningOptionsTest {
 protected:
  const TsaServer& tsa = TsaServer::Shared();
};

TEST_F(SigningOptionsTest, DigestAndThumbprintRunsSignWhatOpensslVerifies) {
  const std::string sha1 = ToUtf8(ThumbprintText(Thumbprint(fixed.get(), ThumbprintKind::kSha1)));
  const std::vector<std::string> cases[] = {
      // clang-format off
      {"m.xml", "out.p7", "Fixed Signer", "--digest", "sha512"},
      {"m.xml", "out.p7", "--thumbprint", sha1, "--digest", "sha256"},  // no subject
      {"--digest", "sha384", "m.xml", "out.p7", "fixed", "--thumbprint", sha256, "--strict"},
      // clang-format on
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::filesystem::remove(Out());
    const ProcessResult result = Run(args);
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(Banner() + "\nDone\n", result.output);
    EXPECT_EQ("brevick: signed by Brevick Tests, Fixed Signer (SHA-256 " + sha256 + ")\n",
              result.errors);
    EXPECT_EQ(0, std::system(("openssl cms -verify -inform DER -binary -noverify -in " +
                              Out().string() + " -out /dev/null 2>/dev/null")
                                 .c_str()));
  }
}

// A value an option cannot take stops the run before anything is written.
TEST_F(SigningOptionsTest, BadValuesAreUsageErrors) {
  const std::string kTsa = "http://127.0.0.1:9/tsa";  // never asked: the values stop the run
  const struct {
    std::vector<std::string> extra;
    std::string error;
  } cases[] = {
      // clang-format off
      {{"--digest", "SHA256"}, "--digest takes md2, sha256, sha384 or sha512, not 'SHA256'"},
      {{"--thumbprint", "12:34"}, "--thumbprint takes a SHA-1 (40 hex digits) or SHA-256 (64) thumbprint, not '12:34'"},
      {{"--jobs", "9999999"}, "--jobs needs a whole number of at least 1, not '9999999'"},
      {{"--timestamp", "ftp://127.0.0.1/tsa"}, "--timestamp takes an http or https URL, not 'ftp://127.0.0.1/tsa'"},
      {{"--timestamp", kTsa, "--timestamp-digest", "md2"}, "--timestamp-digest takes sha256, sha384 or sha512, not 'md2'"},
      {{"--timestamp", kTsa, "--timestamp-retries", "0"}, "--timestamp-retries needs a whole number from 1 to 100, not '0'"},
      {{"--timestamp", kTsa, "--timestamp-wait", "-1"}, "--timestamp-wait needs a whole number from 0 to 3600, not '-1'"},
      {{"--timestamp", kTsa, "--timestamp-timeout", "0"}, "--timestamp-timeout needs a whole number from 1 to 3600, not '0'"},
      {{"--timestamp-wait", "0"}, "the --timestamp-* options need --timestamp URL"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    work.WriteFile("out.p7", kPrevious);
    const ProcessResult result = Sign("out.p7", c.extra);
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ(Banner() + UsageText(), result.output);
    EXPECT_EQ("brevick: " + c.error + "\n" + kHelpPointer, result.errors);
    EXPECT_EQ(kPrevious, Read("out.p7"));
  }
  // Without a thumbprint, two positionals are still too few.
  const ProcessResult result = Run({"m.xml", "out.p7", "--digest", "sha256"});
  EXPECT_EQ(1, result.exitCode);
  EXPECT_EQ(Banner() + UsageText(), result.output);
}

// Listing never loads a token's module (nor spends a PIN try) unless asked.
TEST_F(SigningOptionsTest, CertificatesModeListsEveryDetailWithoutBanner) {
  stores.AddFile("My", "keyless.cer", DerOf(fixed.get()));
  stores.AddFile("Other", "readme.txt", "not a certificate");
  stores.AddFile("Token", "tok.pem", PemOf(fixed.get()));
  stores.AddFile("Token", "tok.key",
                 "pkcs11:token=release;object=key?module-path=/nonexistent/m.so\n");
  // clang-format off
  const std::string block = "  Subject:     Brevick Tests, Fixed Signer\n  Issuer:      Brevick Tests, Fixed Signer\n"
      "  Serial:      1092\n  SHA-256:     " + sha256 + "\n  Valid from:  2026-12-06 19:30:31 UTC\n"
      "  Valid to:    2126-11-12 19:30:31 UTC (valid now)\n  Key:         RSA 2048 bits\n";
  const std::string my = "Store 'My'\n Certificate 'Fixed Signer' (fixed.pem)\n" + block + "  Private key: usable for signing\n"
      " Certificate 'Fixed Signer' (keyless.cer)\n" + block + "  Private key: none usable: no private key (no file keyless.key)\n"
      "Store contained 2 certificate(s)\n";
  const std::string token = "Store 'Token'\n Certificate 'Fixed Signer' (tok.pem)\n" + block + "  Private key: PKCS #11 token 'release', object 'key', ";
  const std::string tokenEnd = "\nStore contained 1 certificate(s)\n";
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string output, errors;
  } cases[] = {
      {{"--certificates"}, 0, my + "Store 'Other'\nStore contained 0 certificate(s)\n" + token + "not asked (--probe asks the token)" + tokenEnd, ""},
      {{"--certificates", "-S", "my"}, 0, "Store 'my'\n" + my.substr(my.find('\n') + 1), ""},
      {{"--certificates", "--probe", "-S", "Token"}, 0, token + "not reachable now" + tokenEnd, ""},
      {{"-S", "Nowhere", "--certificates"}, 1, "", "brevick: there is no certificate store 'Nowhere' in " + stores.StoresDirectory().string() + "\n"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(c.exitCode, result.exitCode);
    EXPECT_EQ(c.output, result.output);
    EXPECT_EQ(c.errors, result.errors);
  }
}

TEST_F(SigningOptionsTest, AStoreNameThatIsNotUtf8IsListedAndHidesNothing) {
  stores.AddPemWithKey("\xff", "f.pem", fixed.get(), key.get());
  stores.AddPemWithKey("Zeta", "z.pem", fixed.get(), key.get());
  const ProcessResult result = Run({"-L"});
  EXPECT_EQ(0, result.exitCode);
  const std::string one = "'\n Fixed Signer\nStore contained 1 certificate(s)\n";
  EXPECT_EQ(
      Banner() + "Store 'My" + one + "Store 'Zeta" + one + "Store '\xEF\xBF\xBD" + one + "\nDone\n",
      result.output);
}

TEST_F(TimestampTest, EveryFailedTryIsToldAndTheOutputStaysAsItWas) {
  struct Case {
    std::string url;
    std::vector<std::string> extra;
    std::string reason;
    std::string shown = "";  // the URL as told, when not as given
    std::vector<std::pair<std::string, std::string>> env = {};
  };
  // clang-format off
  const Case cases[] = {
      {tsa.RefusedUrl(),      {},                             "connection refused"},
      {tsa.Url("http500"),    {},                             "HTTP 500 Internal Server Error"},
      {tsa.Url("http404"),    {},                             "HTTP 404 Not Found"},
      {tsa.Url("html"),       {},                             "not a time-stamp response (Content-Type text/html, first bytes \"<html><body>Sign\")"},
      {tsa.Url("slow/4"),     {"--timestamp-timeout", "1"},   "no answer in 1 s"},
      {tsa.Url("reject"),     {},                             "rejected by the TSA (rejection, failInfo unacceptedPolicy: policy not accepted)"},
      {tsa.Url("replay"),     {},                             "nonce mismatch: not the answer to this request"},
      {tsa.Url("noeku"),      {},                             "TSA certificate lacks timeStamping"},
      {"http://user:secret@" + tsa.Url("http404").substr(7), {}, "HTTP 404 Not Found", tsa.Url("http404")},
      {tsa.Url(), {"--timestamp-retries", "3", "--timestamp", tsa.Url()}, "HTTP needs libcurl.so.4 (install the libcurl4 package): libnone.so: cannot open shared object file: No such file or directory", "", {{"BREVICK_LIBCURL", "libnone.so"}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    work.WriteFile("out.p7", kPrevious);
    std::vector<std::string> extra = {"--timestamp", c.url, "--timestamp-retries", "1"};
    extra.insert(extra.end(), c.extra.begin(), c.extra.end());
    const ProcessResult result = Sign("out.p7", extra, {.env = c.env});
    EXPECT_EQ(1, result.exitCode);
    const std::string failure = (c.shown.empty() ? c.url : c.shown) + ": " + c.reason;
    EXPECT_EQ(Banner() + "\nThere were errors:\n" +
                  "Timestamp failed: no time-stamp authority gave a valid token (last try " +
                  failure + ")\n",
              result.output);
    EXPECT_EQ("brevick: timestamp: " + failure + "\n", WithoutSigningNotices(result.errors));
    // A failed run leaves the previous release as it was.
    EXPECT_EQ(kPrevious, Read("out.p7"));
  }
}

// The token openssl accepts, and the message is the unstamped one plus it.
void ExpectStampedAsPlain(const std::string& plain, const std::string& stamped,
                          const TempDir& scratch, const std::filesystem::path& root) {
  const std::optional<SignerTimestamps> signer = ReadSignerTimestamps(Bytes(stamped));
  ASSERT_TRUE(signer);
  ASSERT_EQ(1u, signer->tokens.size());
  EXPECT_EQ(Bytes(stamped), WithTimestampToken(Bytes(plain), signer->tokens[0]));
  const std::vector<std::uint8_t>& token = signer->tokens[0];
  const std::filesystem::path tokenFile =
      scratch.WriteFile("token.der", std::string(token.begin(), token.end()));
  const std::filesystem::path dataFile = scratch.WriteFile(
      "signature.bin", std::string(signer->signatureValue.begin(), signer->signatureValue.end()));
  const std::string verify = "openssl ts -verify -token_in -in " + tokenFile.string() + " -data " +
                             dataFile.string() + " -CAfile " + root.string() + " >/dev/null 2>&1";
  EXPECT_EQ(0, std::system(verify.c_str())) << verify;
}

// Each way a token is got: its signature is the unstamped one, openssl
// accepts the token, and standard error tells only what a try cost.
TEST_F(TimestampTest, OpensslAcceptsTheTokenAndTheSignatureIsUnchanged) {
  const std::string url = tsa.Url(), refused = tsa.RefusedUrl();
  const std::string flaky = tsa.Url("flaky/" + std::to_string(std::rand()));
  const std::string t = "brevick: timestamp: ";
  const struct {
    std::vector<std::string> signing, timestamp;
    std::string errors;
  } cases[] = {
      // clang-format off
      {{}, {"--timestamp", url}, ""},
      {{"--digest", "sha256"}, {"--timestamp", url, "--timestamp-digest", "sha384"}, ""},
      {{"--digest", "sha512"}, {"--timestamp", url, "--timestamp-digest", "sha512"}, ""},
      {{}, {"--timestamp", refused, "--timestamp", url}, t + refused + ": connection refused\n" + t + "served by " + url + " after 1 failed try\n"},
      {{}, {"--timestamp", flaky, "--timestamp-wait", "0"}, t + flaky + ": HTTP 503 Service Unavailable\n" + t + "served by " + flaky + " after 1 failed try\n"},
      {{}, {"-D", "--timestamp", url, "--timestamp-digest", "sha512", "--timestamp-wait", "0"}, "brevick: Timestamp: " + url + "; digest sha512; 3 rounds, 0 s between rounds, 30 s per request\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.timestamp));
    const ProcessResult plain = Sign("plain.p7", c.signing);
    ASSERT_EQ(0, plain.exitCode) << plain.output;
    std::vector<std::string> extra = c.signing;
    extra.insert(extra.end(), c.timestamp.begin(), c.timestamp.end());
    const ProcessResult stamped = Sign("stamped.p7", extra);
    ASSERT_EQ(0, stamped.exitCode) << stamped.output << stamped.errors;
    if (c.errors.empty()) {
      EXPECT_EQ(plain.output, stamped.output);
    }
    EXPECT_EQ(c.errors, WithoutSigningNotices(stamped.errors));
    ExpectStampedAsPlain(Read("plain.p7"), Read("stamped.p7"), work, tsa.RootCertificate());
  }
}

TEST_F(TimestampTest, AKeyOnATokenIsStampedAlike) {
  if (const std::string missing = SoftHsmMissing(); !missing.empty()) GTEST_SKIP() << missing;
  const SoftHsmToken token;
  stores.AddFile("Token", "signer.pem", PemOf(certificate.get()));
  stores.AddFile("Token", "signer.key",
                 std::string("pkcs11:token=") + kTokenLabel + ";object=" + kKeyLabel +
                     ";type=private?module-path=" + kSoftHsmModule +
                     "&pin-source=file:" + token.WritePinFile(kUserPin) + "\n");
  const ProcessResult plain = Run({"-S", "Token", "m.xml", "plain.p7", kRunSigner});
  ASSERT_EQ(0, plain.exitCode) << plain.output << plain.errors;
  const ProcessResult stamped =
      Run({"-S", "Token", "m.xml", "stamped.p7", kRunSigner, "--timestamp", tsa.Url()});
  ASSERT_EQ(0, stamped.exitCode) << stamped.output << stamped.errors;
  ExpectStampedAsPlain(Read("plain.p7"), Read("stamped.p7"), work, tsa.RootCertificate());
}

TEST_F(TimestampTest, AddTimestampStampsOnlyAValidUnstampedManifest) {
  ASSERT_EQ(0, Sign("plain.p7", {}).exitCode);
  ASSERT_EQ(0, Sign("stamped.p7", {"--timestamp", tsa.Url()}).exitCode);
  const std::string plain = Read("plain.p7");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string errors;  // standard error, without the first line's path
  };
  const Case cases[] = {
      // clang-format off
      {{"--add-timestamp", "stamped.p7", "--timestamp", tsa.Url()}, 1, "brevick: --add-timestamp: stamped.p7 already has a timestamp\n"},
      {{"--add-timestamp", "m.xml", "--timestamp", tsa.Url()}, 1, "brevick: --add-timestamp: m.xml is not a valid signed manifest: Failed signature check. The data is not to be trusted.\n"},
      {{"--add-timestamp", "copy.p7", "--timestamp", tsa.RefusedUrl(), "--timestamp-retries", "1"}, 1, "brevick: timestamp: " + tsa.RefusedUrl() + ": connection refused\n" "brevick: --add-timestamp: copy.p7 was left as it was: no time-stamp authority gave a valid token\n"},
      {{"--add-timestamp", "copy.p7"}, 64, "brevick: --add-timestamp needs --timestamp URL\n"},
      {{"--add-timestamp", "copy.p7", "--timestamp", tsa.Url(), "--jobs", "2"}, 64, "brevick: unknown option for --add-timestamp: --jobs\n"},
      {{"--add-timestamp", "copy.p7", "--timestamp", tsa.Url()}, 0, ""},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    work.WriteFile("copy.p7", plain);
    const std::string before = Read(c.args[1]);
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(c.exitCode, result.exitCode);
    if (c.exitCode == 64) {
      EXPECT_EQ(c.errors, result.errors.substr(0, c.errors.size()));
      EXPECT_EQ("", result.output);
    } else {
      EXPECT_EQ(c.errors, result.errors);
    }
    if (c.exitCode != 0) {
      EXPECT_EQ(before, Read(c.args[1]));
      continue;
    }
    EXPECT_EQ("Timestamp: ", result.output.substr(0, 11));
    EXPECT_NE(std::string::npos, result.output.find(" by CN=Brevick Test TSA\n"));
    ExpectStampedAsPlain(plain, Read("copy.p7"), work, tsa.RootCertificate());
  }
}

}  // namespace
}  // namespace brevick::testing
