// Whole runs with timestamps against the local TSA: every way a try can
// fail, a second URL or round that serves, the token checked by openssl,
// keys in files and on a PKCS #11 token, and --add-timestamp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cms/timestamp_token.h"
#include "tests/support/bytes.h"
#include "tests/support/process.h"
#include "tests/support/signing_certs.h"
#include "tests/support/softhsm_token.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tsa_server.h"

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
constexpr const char* kPrevious = "the previous release\n";

class TimestampTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key = FixedSignerKey();
    stores.AddPemWithKey("My", "fixed.pem", FixedSignerCertificate().get(), key.get());
    package.WriteFile("bin/a.dll", "abc");
    package.WriteFile("m.xml", kManifest);
  }

  ProcessResult Run(std::vector<std::string> args) {
    ProcessOptions options;
    options.workingDirectory = package.Path().string();
    // A proxy from the environment must not stand between the tests and 127.0.0.1.
    options.env = {{"no_proxy", "*"}, {"NO_PROXY", "*"}};
    return RunBrevick(args, options);
  }

  // Signs m.xml into `output`, with `extra` options after the positional ones.
  ProcessResult Sign(const std::string& output, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"m.xml", output, "Fixed Signer"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Run(args);
  }

  std::string Read(const std::string& name) const { return ReadFileBytes(package.Path() / name); }

  const TsaServer& tsa = TsaServer::Shared();
  StoreHome stores;
  TempDir package;
  EvpPkeyPtr key;
};

TEST_F(TimestampTest, EveryFailedTryIsToldAndTheOutputStaysAsItWas) {
  struct Case {
    std::string url;
    std::vector<std::string> extra;
    std::string reason;
    std::string shown = "";  // the URL as told, when not as given
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
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    package.WriteFile("out.p7", kPrevious);
    std::vector<std::string> extra = {"--timestamp", c.url, "--timestamp-retries", "1"};
    extra.insert(extra.end(), c.extra.begin(), c.extra.end());
    const ProcessResult result = Sign("out.p7", extra);
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

TEST_F(TimestampTest, ALaterUrlOrRoundServesAndSaysSo) {
  struct Case {
    std::vector<std::string> args;
    std::string errors;
  };
  const std::string refused = tsa.RefusedUrl();
  const std::string flaky = tsa.Url("flaky/" + std::to_string(std::rand()));
  // clang-format off
  const Case cases[] = {
      // clang-format off
      {{"--timestamp", refused, "--timestamp", tsa.Url()}, "brevick: timestamp: " + refused + ": connection refused\n" "brevick: timestamp: served by " + tsa.Url() + " after 1 failed try\n"},
      {{"--timestamp", flaky, "--timestamp-wait", "0"}, "brevick: timestamp: " + flaky + ": HTTP 503 Service Unavailable\n" "brevick: timestamp: served by " + flaky + " after 1 failed try\n"},
      {{"-D", "--timestamp", tsa.Url(), "--timestamp-digest", "sha512", "--timestamp-wait", "0"}, "brevick: Timestamp: " + tsa.Url() + "; digest sha512; 3 rounds, 0 s between rounds, " "30 s per request\n"},
      // clang-format on
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const ProcessResult result = Sign("out.p7", c.args);
    EXPECT_EQ(0, result.exitCode) << result.output;
    EXPECT_EQ(c.errors, WithoutSigningNotices(result.errors));
    const std::optional<SignerTimestamps> stamped = ReadSignerTimestamps(Bytes(Read("out.p7")));
    ASSERT_TRUE(stamped);
    ASSERT_EQ(1u, stamped->tokens.size());
    EXPECT_TRUE(CheckTimestampToken(stamped->tokens[0], stamped->signatureValue).Valid());
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

TEST_F(TimestampTest, OpensslAcceptsTheTokenAndTheSignatureIsUnchanged) {
  struct Case {
    std::vector<std::string> signing;
    std::vector<std::string> timestamp;
  };
  // clang-format off
  const Case cases[] = {
      {{},                     {"--timestamp", tsa.Url()}},
      {{"--digest", "sha256"}, {"--timestamp", tsa.Url(), "--timestamp-digest", "sha384"}},
      {{"--digest", "sha512"}, {"--timestamp", tsa.Url(), "--timestamp-digest", "sha512"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signing.empty() ? "md2" : c.signing[1]);
    const ProcessResult plain = Sign("plain.p7", c.signing);
    ASSERT_EQ(0, plain.exitCode) << plain.output;
    std::vector<std::string> extra = c.signing;
    extra.insert(extra.end(), c.timestamp.begin(), c.timestamp.end());
    const ProcessResult stamped = Sign("stamped.p7", extra);
    ASSERT_EQ(0, stamped.exitCode) << stamped.output << stamped.errors;
    EXPECT_EQ(plain.output, stamped.output);
    EXPECT_EQ("", WithoutSigningNotices(stamped.errors));
    ExpectStampedAsPlain(Read("plain.p7"), Read("stamped.p7"), package, tsa.RootCertificate());
  }
}

TEST_F(TimestampTest, AKeyOnATokenIsStampedAlike) {
  if (const std::string missing = SoftHsmMissing(); !missing.empty()) GTEST_SKIP() << missing;
  const SoftHsmToken token;
  const X509Ptr certificate = MakeCertificate(TestRsaKey(0), {{"CN", "Token Signer"}});
  stores.AddFile("Token", "signer.pem", PemOf(certificate.get()));
  stores.AddFile("Token", "signer.key",
                 std::string("pkcs11:token=") + kTokenLabel + ";object=" + kKeyLabel +
                     ";type=private?module-path=" + kSoftHsmModule +
                     "&pin-source=file:" + token.WritePinFile(kUserPin) + "\n");
  const ProcessResult plain = Run({"-S", "Token", "m.xml", "plain.p7", "Token Signer"});
  ASSERT_EQ(0, plain.exitCode) << plain.output << plain.errors;
  const ProcessResult stamped =
      Run({"-S", "Token", "m.xml", "stamped.p7", "Token Signer", "--timestamp", tsa.Url()});
  ASSERT_EQ(0, stamped.exitCode) << stamped.output << stamped.errors;
  ExpectStampedAsPlain(Read("plain.p7"), Read("stamped.p7"), package, tsa.RootCertificate());
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
  // clang-format off
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
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    package.WriteFile("copy.p7", plain);
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
    ExpectStampedAsPlain(plain, Read("copy.p7"), package, tsa.RootCertificate());
  }
}

TEST_F(TimestampTest, BadTimestampValuesAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  // clang-format off
  const Case cases[] = {
      {{"--timestamp", "ftp://127.0.0.1/tsa"},                   "--timestamp takes an http or https URL, not 'ftp://127.0.0.1/tsa'"},
      {{"--timestamp", tsa.Url(), "--timestamp-digest", "md2"},  "--timestamp-digest takes sha256, sha384 or sha512, not 'md2'"},
      {{"--timestamp", tsa.Url(), "--timestamp-retries", "0"},   "--timestamp-retries needs a whole number from 1 to 100, not '0'"},
      {{"--timestamp", tsa.Url(), "--timestamp-wait", "-1"},     "--timestamp-wait needs a whole number from 0 to 3600, not '-1'"},
      {{"--timestamp", tsa.Url(), "--timestamp-timeout", "0"},   "--timestamp-timeout needs a whole number from 1 to 3600, not '0'"},
      {{"--timestamp-wait", "0"},                                "the --timestamp-* options need --timestamp URL"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    package.WriteFile("out.p7", kPrevious);
    const ProcessResult result = Sign("out.p7", c.args);
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ(Banner() + UsageText(), result.output);
    EXPECT_EQ("brevick: " + c.error + "\n" + kHelpPointer, result.errors);
    EXPECT_EQ(kPrevious, Read("out.p7"));
  }
}

}  // namespace
}  // namespace brevick::testing
