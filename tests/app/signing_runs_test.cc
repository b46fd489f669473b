// tests/app/signing_runs_test.cc: whole runs of the built executable with the
// signing options (--digest, --thumbprint, --strict, the --certificates
// listing, timestamps from the local TSA and --add-timestamp), with --jobs and
// the progress line, and with hostile inputs: running out of memory is a
// recorded message, not a crash; an output path that names a file the run
// depends on is refused; control characters never reach the console.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// Package() with bin/f0..f29 (of growing sizes) beside a.dll.
class HashingOptionsTest : public SigningRunTest {
 protected:
  void SetUp() override {
    Package();
    for (int i = 0; i < 30; ++i)
      work.WriteFile("bin/f" + std::to_string(i),
                     std::string(static_cast<std::size_t>(i) * 30011, static_cast<char>(i)));
  }
  // Package()'s manifest naming `files` of bin/ after a.dll, or only a.dll.
  std::string Manifest(const std::vector<std::string>& files) const {
    std::string text = Read("m.xml");
    const std::size_t end = text.find("</dependency>") + 13;
    for (auto file = files.rbegin(); file != files.rend(); ++file)
      text.insert(end, "<dependency file=\"" + *file +
                           "\" entryPoint=\"0\"><destination value=\"local\"/><md5/></dependency>");
    return text;
  }
};

TEST_F(HashingOptionsTest, EveryJobCountPrintsAndWritesWhatOneJobDoes) {
  ASSERT_EQ(0, ::mkdir((work.Path() / "bin/directory").c_str(), 0755));
  std::vector<std::string> clean, broken = {"missing1", "directory", "tab&#9;name"};
  for (int i = 0; i < 30; ++i) clean.push_back("f" + std::to_string(i));
  broken.insert(broken.end(), clean.begin(), clean.end());
  broken.insert(broken.begin() + 15, {"missing2", "a  b"});
  broken.push_back("missing3");
  const std::string cleanManifest = Manifest(clean);
  for (const std::string& manifest : {cleanManifest, Manifest(broken)}) {
    SCOPED_TRACE(manifest.size());
    work.WriteFile("m.xml", manifest);
    std::filesystem::remove(Out());
    const ProcessResult sequential = Run({"-P", "--jobs", "1", "m.xml", "out.p7", kRunSigner});
    const std::string sequentialOutput = Read("out.p7");
    EXPECT_EQ(manifest == cleanManifest ? 0 : 1, sequential.exitCode) << sequential.output;
    for (const char* jobs : {"2", "5", "100", ""}) {  // "": the default job count
      SCOPED_TRACE(jobs);
      std::filesystem::remove(Out());
      const ProcessResult parallel =
          Run(*jobs ? std::vector<std::string>{"-P", "--jobs", jobs, "m.xml", "out.p7", kRunSigner}
                    : std::vector<std::string>{"-P", "m.xml", "out.p7", kRunSigner});
      EXPECT_EQ(sequential.output, parallel.output);
      EXPECT_EQ(sequential.errors, parallel.errors);
      EXPECT_EQ(sequential.exitCode, parallel.exitCode);
      EXPECT_EQ(sequentialOutput, Read("out.p7"));
    }
  }
}

TEST_F(HashingOptionsTest, TheProgressLineAppearsOnATerminalOnlyAndIsErasedAtTheEnd) {
  work.WriteFile("m.xml", Manifest({"f1", "f2"}));
  const auto run = [&](const char* option, const ProcessOptions& options = {}) {
    std::vector<std::string> args = {"m.xml", "out.p7", kRunSigner};
    if (*option) args.insert(args.begin(), option);
    return Run(args, options);
  };
  const std::string plainOutput = run("").output;
  const ProcessOptions terminal = {.standardOutput = (work.Path() / "stdout.txt").string(),
                                   .errorsOnTerminal = true};
  std::ofstream(work.Path() / "stdout.txt").flush();
  const std::string shown = WithoutSigningNotices(run("", terminal).errors);
  EXPECT_NE(std::string::npos, shown.find("\r\x1b[Kbrevick: hashed ")) << shown;
  EXPECT_NE(std::string::npos, shown.find(" of 3 files")) << shown;
  EXPECT_TRUE(shown.ends_with("\r\x1b[K")) << shown;
  EXPECT_EQ(plainOutput, Read("stdout.txt"));
  EXPECT_EQ("", WithoutSigningNotices(run("--no-progress", terminal).errors));
  // Not a terminal: nothing, unless forced.
  EXPECT_EQ("", WithoutSigningNotices(run("").errors));
  const ProcessResult piped = run("--progress");
  EXPECT_NE(std::string::npos, piped.errors.find("brevick: hashed ")) << piped.errors;
  EXPECT_EQ(plainOutput, piped.output);
}

class HostileInputTest : public SigningRunTest {
  void SetUp() override { Package(); }
};

bool HasLeftovers(const std::filesystem::path& directory) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    if (entry.path().filename().string().find(".brevick-") != std::string::npos) return true;
  }
  return false;
}

TEST_F(HostileInputTest, RunningOutOfMemoryIsRecordedNotACrash) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  if (std::getenv("BREVICK_TEST_WRAPPER") != nullptr)
    GTEST_SKIP() << "a wrapper needs its own address space";
  // A sparse 1 GiB manifest costs no disk, but reading it needs 1 GiB of memory.
  work.WriteFile("huge.xml", "");
  std::filesystem::resize_file(work.Path() / "huge.xml", 1ull << 30);
  const ProcessResult result =
      Run({"huge.xml", "out.p7", kRunSigner}, {.addressSpaceLimitBytes = 512l << 20});
  EXPECT_EQ(FailedWith("Out of memory\n"), result.output);
  EXPECT_EQ(1, result.exitCode) << result.errors;
  EXPECT_FALSE(std::filesystem::exists(Out()));
}

TEST_F(HostileInputTest, OutputNamingAFileTheRunReadsIsRefusedAndNothingIsWritten) {
  std::filesystem::create_symlink("m.xml", work.Path() / "link.xml");
  std::filesystem::create_hard_link(work.Path() / "m.xml", work.Path() / "hard.xml");
  std::filesystem::create_symlink("bin/a.dll", work.Path() / "module-link");
  const std::filesystem::path storeFile = stores.StoresDirectory() / "My" / "signer.pem";
  const std::filesystem::path storeNew = stores.StoresDirectory() / "My" / "new.p7";
  std::filesystem::create_hard_link(storeFile, work.Path() / "pem-link");
  const std::string manifest = ReadFileBytes(work.Path() / "m.xml");
  const std::string pem = ReadFileBytes(storeFile);
  const std::string input = ": it is the input manifest";
  const std::string module = ": it is a module file of this package";
  const std::string store = ": it is inside the certificate stores";
  const struct {
    std::string outfile, reason;
  } cases[] = {
      // clang-format off
      {"m.xml", input}, {"./m.xml", input}, {".\\m.xml", input}, {"link.xml", input}, {"hard.xml", input},
      {"bin/a.dll", module}, {"module-link", module},
      {storeFile.string(), store}, {"pem-link", store}, {storeNew.string(), store},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outfile);
    const ProcessResult result = Run({"m.xml", c.outfile, kRunSigner});
    EXPECT_EQ(FailedWith("Refusing to overwrite " + c.outfile + c.reason + "\n"), result.output);
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ(manifest, ReadFileBytes(work.Path() / "m.xml"));
    EXPECT_EQ("abc", ReadFileBytes(work.Path() / "bin/a.dll"));
    EXPECT_EQ(pem, ReadFileBytes(storeFile));
    EXPECT_FALSE(std::filesystem::exists(storeNew));
    EXPECT_TRUE(std::filesystem::is_symlink(work.Path() / "link.xml"));
  }
  EXPECT_FALSE(HasLeftovers(work.Path()));
  EXPECT_FALSE(HasLeftovers(stores.Root()));
  // A file of the same name outside the stores is no such file.
  EXPECT_EQ(0, Run({"m.xml", "signer.pem", kRunSigner}).exitCode);
}

// A store whose name is not UTF-8 is opened by its own bytes, not by the
// name shown.
TEST_F(HostileInputTest, ListingShowsControlCharactersAndNamesThatAreNotUtf8AsReplacements) {
  const std::string name =
      "Evil\x1B[2J\x07\xC2\x9B"
      "31m\xE2\x80\xAE"
      "lld.exe\r\nDone";
  const X509Ptr hostile = MakeCertificate(TestRsaKey(1), {{"CN", name}}, {.serial = 7});
  stores.AddPemWithKey("My", "hostile.pem", hostile.get(), TestRsaKey(1));
  stores.AddPemWithKey("\xff", "f.pem", certificate.get(), TestRsaKey(0));
  const ProcessResult result = Run({"-L"});
  EXPECT_EQ(0, result.exitCode) << result.output;
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_NE(std::string::npos,
            result.output.find("Evil" + r + "[2J" + r + r + "31m" + r + "lld.exe" + r + r + "Done"))
      << result.output;
  EXPECT_TRUE(result.output.ends_with("Store '" + r +
                                      "'\n Run Signer\nStore contained 1 certificate(s)\n\nDone\n"))
      << result.output;
}

}  // namespace
}  // namespace brevick::testing
