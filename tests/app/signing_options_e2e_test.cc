// Whole runs with the signing options: --digest, --thumbprint, --strict, the
// --certificates listing, -L over a store whose name is not UTF-8, and
// timestamps from the local TSA: every way a try can fail, a second URL or
// round that serves, the token checked by openssl, keys in files and on a
// PKCS #11 token, and --add-timestamp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "base/utf8.h"
#include "cms/message_check.h"
#include "cms/timestamp_token.h"
#include "pki/certificate_info.h"
#include "tests/support/bytes.h"
#include "tests/support/signing_run.h"
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

// Each digest signs what it names, and what OpenSSL's own check takes.
TEST_F(SigningOptionsTest, DigestAndThumbprintRunsSignWhatOpensslVerifies) {
  const std::string sha1 = ToUtf8(ThumbprintText(Thumbprint(fixed.get(), ThumbprintKind::kSha1)));
  const struct {
    std::vector<std::string> args;
    std::string digest;
  } cases[] = {
      // clang-format off
      {{"m.xml", "out.p7", "Fixed Signer", "--digest", "sha512"}, "sha512"},
      {{"m.xml", "out.p7", "--thumbprint", sha1, "--digest", "sha256"}, "sha256"},  // no subject
      {{"--digest", "sha384", "m.xml", "out.p7", "fixed", "--thumbprint", sha256, "--strict"}, "sha384"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::filesystem::remove(Out());
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(0, result.exitCode);
    EXPECT_EQ(Banner() + "\nDone\n", result.output);
    EXPECT_EQ("brevick: signed by Brevick Tests, Fixed Signer (SHA-256 " + sha256 + ")\n",
              result.errors);
    EXPECT_EQ(c.digest, CheckSignedMessage(Bytes(Read("out.p7"))).signers.at(0).digest);
    EXPECT_EQ(0, std::system(("openssl cms -verify -inform DER -binary -noverify -in " +
                              Out().string() + " -out /dev/null 2>/dev/null")
                                 .c_str()));
  }
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

TEST_F(TimestampTest, EveryFailedTryIsToldAndTheOutputStaysAsItWas) {
  // clang-format off
  const struct { std::string url; std::vector<std::string> extra; std::string reason, shown = ""; std::vector<std::pair<std::string, std::string>> env = {}; } cases[] = {
      {tsa.RefusedUrl(),      {},                             "connection refused"},
      {tsa.Url("html"),       {},                             "not a time-stamp response (Content-Type text/html, first bytes \"<html><body>Sign\")"},
      {tsa.Url("slow/4"),     {"--timestamp-timeout", "1"},   "no answer in 1 s"},
      {tsa.Url("reject"),     {},                             "rejected by the TSA (rejection, failInfo unacceptedPolicy: policy not accepted)"},
      {tsa.Url("replay"),     {},                             "nonce mismatch: not the answer to this request"},
      {"http://user:secret@" + tsa.Url("http404").substr(7), {}, "HTTP 404 Not Found", tsa.Url("http404")},  // shown without the password
      {tsa.Url(), {"--timestamp-retries", "3", "--timestamp", tsa.Url()}, "HTTP needs libcurl.so.4 (install the libcurl4 package): libnone.so: cannot open shared object file: No such file or directory", "", {{"BREVICK_LIBCURL", "libnone.so"}}},  // once, no retry
  };
  // clang-format on
  for (const auto& c : cases) {
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
  const std::string verify =
      "openssl ts -verify -token_in -in " +
      scratch.WriteFile("token.der", TextOf(signer->tokens[0])).string() + " -data " +
      scratch.WriteFile("signature.bin", TextOf(signer->signatureValue)).string() + " -CAfile " +
      root.string() + " >/dev/null 2>&1";
  EXPECT_EQ(0, std::system(verify.c_str())) << verify;
}

// Each way a token is got: its signature is the unstamped one, openssl
// accepts the token, and standard error tells only what a try cost. Then
// --add-timestamp stamps only a valid unstamped manifest, and alike.
TEST_F(TimestampTest, OpensslAcceptsTheTokenAndTheSignatureIsUnchanged) {
  const std::string url = tsa.Url(), refused = tsa.RefusedUrl();
  const std::string flaky = tsa.Url("flaky/" + std::to_string(std::rand()));
  const std::string t = "brevick: timestamp: ";
  const ProcessResult unstamped = Sign("plain.p7", {});
  ASSERT_EQ(0, unstamped.exitCode) << unstamped.output;
  const std::string plain = Read("plain.p7");
  const struct {
    std::vector<std::string> timestamp;
    std::string errors;
  } stampings[] = {
      // clang-format off
      {{"--timestamp", url, "--timestamp-digest", "sha384"}, ""},
      {{"--timestamp", refused, "--timestamp", url}, t + refused + ": connection refused\n" + t + "served by " + url + " after 1 failed try\n"},
      {{"--timestamp", flaky, "--timestamp-wait", "0"}, t + flaky + ": HTTP 503 Service Unavailable\n" + t + "served by " + flaky + " after 1 failed try\n"},
      {{"-D", "--timestamp", url, "--timestamp-digest", "sha512", "--timestamp-wait", "0"}, "brevick: Timestamp: " + url + "; digest sha512; 3 rounds, 0 s between rounds, 30 s per request\n"},
      {{"--timestamp", url}, ""},
      // clang-format on
  };
  for (const auto& c : stampings) {
    SCOPED_TRACE(::testing::PrintToString(c.timestamp));
    const ProcessResult stamped = Sign("stamped.p7", c.timestamp);
    ASSERT_EQ(0, stamped.exitCode) << stamped.output << stamped.errors;
    EXPECT_EQ(c.errors.empty() ? unstamped.output : stamped.output, stamped.output);
    EXPECT_EQ(c.errors, WithoutSigningNotices(stamped.errors));
    ExpectStampedAsPlain(plain, Read("stamped.p7"), work, tsa.RootCertificate());
  }
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string errors;  // standard error; after a usage error (64), its start
  } cases[] = {
      // clang-format off
      {{"--add-timestamp", "stamped.p7", "--timestamp", tsa.Url()}, 1, "brevick: --add-timestamp: stamped.p7 already has a timestamp\n"},
      {{"--add-timestamp", "m.xml", "--timestamp", tsa.Url()}, 1, "brevick: --add-timestamp: m.xml is not a valid signed manifest: Failed signature check. The data is not to be trusted.\n"},
      {{"--add-timestamp", "copy.p7", "--timestamp", tsa.RefusedUrl(), "--timestamp-retries", "1"}, 1, "brevick: timestamp: " + tsa.RefusedUrl() + ": connection refused\n" "brevick: --add-timestamp: copy.p7 was left as it was: no time-stamp authority gave a valid token\n"},
      {{"--add-timestamp", "copy.p7"}, 64, "brevick: --add-timestamp needs --timestamp URL\n"},
      {{"--add-timestamp", "copy.p7", "--timestamp", tsa.Url(), "--jobs", "2"}, 64, "brevick: unknown option for --add-timestamp: --jobs\n"},
      {{"--add-timestamp", "copy.p7", "--timestamp", tsa.Url()}, 0, ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    work.WriteFile("copy.p7", plain);
    const std::string before = Read(c.args[1]);
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(c.exitCode, result.exitCode);
    EXPECT_EQ(c.errors,
              c.exitCode == 64 ? result.errors.substr(0, c.errors.size()) : result.errors);
    if (c.exitCode != 0) {
      EXPECT_EQ("", result.output);
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
