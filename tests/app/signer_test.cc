// tests/signing/signer_test.cc: digests, the certificate chosen by subject
// and thumbprint, the checks before signing and the reasons for failure.
#include "app/signer.h"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "base/report.h"
#include "base/utf8.h"
#include "cms/message_check.h"
#include "cms/signed_message.h"
#include "pki/certificate_info.h"
#include "tests/support/bytes.h"
#include "tests/support/signing_certs.h"
#include "tests/support/temp_dir.h"

namespace brevick {
namespace {

using testing::StoreHome;
using Strings = std::vector<std::wstring>;
using Bytes = std::vector<std::uint8_t>;

constexpr DigestAlgorithm kAllDigests[] = {DigestAlgorithm::kMd2, DigestAlgorithm::kSha256,
                                           DigestAlgorithm::kSha384, DigestAlgorithm::kSha512};

SignerChoice Choice(const std::wstring& subject, DigestAlgorithm digest = DigestAlgorithm::kMd2) {
  SignerChoice choice;
  choice.subject = subject;
  choice.digest = digest;
  return choice;
}

// Runs a shell command; its exit status, or -1.
int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Sha256Hex(X509* certificate) {
  return ToUtf8(ThumbprintText(Thumbprint(certificate, ThumbprintKind::kSha256)));
}

class SignerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixedKey = testing::FixedSignerKey();
    fixed = testing::FixedSignerCertificate();
    home.AddPemWithKey("My", "fixed.pem", fixed.get(), fixedKey.get());
  }

  // Signs in a fresh capture; the capture's standard error is kept.
  bool Sign(const SignerChoice& choice, const std::string& content, Bytes& message) {
    const ConsoleCapture capture;
    SignedMessageFrame frame;
    const Bytes bytes = testing::Bytes(content);
    const bool ok = SignAsChosen(choice, content.size(), DigestInfo(choice.digest, bytes), frame);
    message = ok ? testing::Joined(frame, bytes) : Bytes{};
    errors = Errors();
    stderrText = capture.ErrorText();
    return ok;
  }

  StoreHome home;
  EvpPkeyPtr fixedKey;
  X509Ptr fixed;
  Strings errors;
  std::string stderrText;
};

TEST_F(SignerTest, EveryDigestSignsWhatOpensslCmsVerifiesAndTheSameInputGivesTheSameBytes) {
  const testing::TempDir work;
  // openssl cms checks the S/MIME purpose with -CAfile, so this signer has no
  // extended key usage.
  const X509Ptr plain =
      testing::MakeCertificate(fixedKey.get(), {{"CN", "Plain Signer"}}, {.serial = 7});
  home.AddPemWithKey("My", "plain.pem", plain.get(), fixedKey.get());
  work.WriteFile("ca.pem", testing::PemOf(plain.get()));
  const std::string content = "<?xml version=\"1.0\"?>\n<dravanePackage>\xc5\x81</dravanePackage>";
  for (const DigestAlgorithm digest : kAllDigests) {
    SCOPED_TRACE(std::string(DigestName(digest)));
    Bytes first, second;
    ASSERT_TRUE(Sign(Choice(L"plain signer", digest), content, first));
    ASSERT_TRUE(Sign(Choice(L"plain signer", digest), content, second));
    EXPECT_EQ(first, second);
    EXPECT_EQ("brevick: signed by Plain Signer (SHA-256 " + Sha256Hex(plain.get()) + ")\n",
              stderrText);
    Bytes verified;
    EXPECT_EQ(CryptoResult::kOk, VerifySignedMessage(first, verified));
    EXPECT_EQ(DigestName(digest), CheckSignedMessage(first).signers.at(0).digest);  // by name
    EXPECT_EQ(testing::Bytes(content), verified);
    if (digest == DigestAlgorithm::kMd2) continue;  // OpenSSL has no MD2
    const std::string in = (work.Path() / "msg.p7").string();
    work.WriteFile("msg.p7", std::string(first.begin(), first.end()));
    const std::string base = "openssl cms -verify -inform DER -binary -in " + in;
    for (const std::string& trust :
         {std::string(" -noverify"), " -CAfile " + (work.Path() / "ca.pem").string()}) {
      SCOPED_TRACE(trust);
      std::filesystem::remove(work.Path() / "out.xml");
      EXPECT_EQ(
          0, Shell(base + trust + " -out " + (work.Path() / "out.xml").string() + " 2>/dev/null"));
      EXPECT_EQ(content, testing::ReadFileBytes(work.Path() / "out.xml"));
    }
  }
}

TEST_F(SignerTest, Md2OutputStaysTheBytesItAlwaysWas) {
  const std::string content =
      testing::ReadFileBytes(testing::TestDataPath("signing/fixed_content.xml"));
  const std::string expected =
      testing::ReadFileBytes(testing::TestDataPath("signing/fixed_content_md2.p7"));
  Bytes viaChoice;
  ASSERT_TRUE(Sign(Choice(L"Fixed Signer"), content, viaChoice));
  EXPECT_EQ(expected, std::string(viaChoice.begin(), viaChoice.end()));
}

TEST_F(SignerTest, AThumbprintChoosesInEveryFormAndMustAgreeWithTheSubject) {
  // Two certificates with one subject: the thumbprint picks the second.
  const X509Ptr twin1 = testing::MakeCertificate(fixedKey.get(), {{"CN", "Twin"}}, {.serial = 11});
  const X509Ptr twin2 = testing::MakeCertificate(fixedKey.get(), {{"CN", "Twin"}}, {.serial = 12});
  home.AddPemWithKey("My", "twin1.pem", twin1.get(), fixedKey.get());
  home.AddPemWithKey("My", "twin2.pem", twin2.get(), fixedKey.get());
  const std::wstring sha1 = ThumbprintText(Thumbprint(twin2.get(), ThumbprintKind::kSha1));
  const std::wstring sha256 = ThumbprintText(Thumbprint(twin2.get(), ThumbprintKind::kSha256));
  std::wstring lowerSha1 = sha1, colonSha256, blankSha1;
  for (wchar_t& c : lowerSha1) c = static_cast<wchar_t>(std::towlower(c));
  for (std::size_t i = 0; i < sha256.size(); i += 2)
    colonSha256 += (i ? L":" : L"") + sha256.substr(i, 2);
  for (std::size_t i = 0; i < sha1.size(); i += 2)
    blankSha1 += (i ? L" " : L"") + sha1.substr(i, 2);
  const struct {
    const char* what;
    std::wstring subject, thumbprint;
    bool signs;
  } cases[] = {
      {"SHA-1 upper case", L"", sha1, true},
      {"SHA-1 lower case", L"", lowerSha1, true},
      {"SHA-1 with blanks", L"", blankSha1, true},
      {"SHA-256 with colons", L"", colonSha256, true},
      {"SHA-256 and a matching subject", L"twin", sha256, true},
      {"SHA-256 and another subject", L"Fixed", sha256, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<Bytes> thumbprint = ParseThumbprint(c.thumbprint);
    ASSERT_TRUE(thumbprint);
    SignerChoice choice = Choice(c.subject);
    choice.thumbprint = *thumbprint;
    Bytes message;
    EXPECT_EQ(c.signs, Sign(choice, "x", message));
    if (c.signs) {
      EXPECT_EQ(Strings{}, errors);
      EXPECT_EQ("brevick: signed by Twin (SHA-256 " + ToUtf8(sha256) + ")\n", stderrText);
    } else {
      EXPECT_EQ(Strings{L"Could not find the specified signing certificate."}, errors);
      EXPECT_EQ(
          "brevick: no certificate in the default store (MY) has a subject containing 'Fixed' and "
          "the "
          "SHA-256 thumbprint " +
              ToUtf8(sha256) + "\n",
          stderrText);
    }
  }
  for (const std::wstring& bad : Strings{L"", L"12", L"zz" + std::wstring(38, L'0'), L"0" + sha1}) {
    SCOPED_TRACE(ToUtf8(bad));
    EXPECT_FALSE(ParseThumbprint(bad));
  }
}

TEST_F(SignerTest, EachDoubtIsAWarningAndWithStrictAnErrorThatSignsNothing) {
  const std::string sha = Sha256Hex(fixed.get());
  const struct {
    const char* what;
    testing::CertSpec shape;
    bool weakKey;
    std::string clause;  // after "warning: " / "Refusing to sign: "
  } cases[] = {
      // clang-format off
      {"expired", {.notBeforeDays = -30, .notAfterDays = -1}, false, "certificate 'Doubt' expired on "},
      {"not yet valid", {.notBeforeDays = 1, .notAfterDays = 30}, false, "certificate 'Doubt' is not valid before "},
      {"key usage", {.keyUsage = "critical,keyEncipherment"}, false, "certificate 'Doubt' has a key usage without digitalSignature"},
      {"extended key usage", {.extendedKeyUsage = "serverAuth"}, false, "certificate 'Doubt' has an extended key usage without codeSigning"},
      {"RSA 1024", {}, true, "certificate 'Doubt' has an RSA key of 1024 bits, under 2048"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StoreHome doubtHome;
    EVP_PKEY* key = c.weakKey ? testing::TestRsaKey(0) : fixedKey.get();
    const X509Ptr cert = testing::MakeCertificate(key, {{"CN", "Doubt"}}, c.shape);
    doubtHome.AddPemWithKey("My", "doubt.pem", cert.get(), key);
    Bytes message;
    EXPECT_TRUE(Sign(Choice(L"Doubt"), "x", message));
    EXPECT_EQ(Strings{}, errors);
    EXPECT_TRUE(stderrText.starts_with("brevick: warning: " + c.clause)) << stderrText;
    EXPECT_NE(std::string::npos, stderrText.find("brevick: signed by Doubt")) << stderrText;

    SignerChoice strict = Choice(L"Doubt");
    strict.strict = true;
    EXPECT_FALSE(Sign(strict, "x", message));
    EXPECT_TRUE(message.empty());
    ASSERT_EQ(1u, errors.size());
    EXPECT_TRUE(ToUtf8(errors[0]).starts_with("Refusing to sign: " + c.clause))
        << ToUtf8(errors[0]);
    EXPECT_EQ(std::string::npos, stderrText.find("signed by"));
  }

  // Several certificates match: the first in file order signs, named.
  home.AddPemWithKey(
      "My", "fixed2.pem",
      testing::MakeCertificate(fixedKey.get(), {{"CN", "Fixed Signer 2"}}, {.serial = 9}).get(),
      fixedKey.get());
  const std::string several =
      "2 certificates in the default store (MY) match; the first in file order signs: "
      "'Fixed Signer' (SHA-256 " +
      sha + ")";
  Bytes message;
  EXPECT_TRUE(Sign(Choice(L"fixed signer"), "x", message));
  EXPECT_EQ("brevick: warning: " + several +
                "\nbrevick: signed by Brevick Tests, Fixed Signer "
                "(SHA-256 " +
                sha + ")\n",
            stderrText);
  SignerChoice strict = Choice(L"fixed signer");
  strict.strict = true;
  EXPECT_FALSE(Sign(strict, "x", message));
  EXPECT_EQ(Strings{ToWide("Refusing to sign: " + several)}, errors);
}

TEST_F(SignerTest, AFailedSigningSaysWhyOnStandardErrorAndKeepsItsText) {
  const EvpPkeyPtr ecKey = testing::MakeEcKey();
  const X509Ptr ecCert = testing::MakeCertificate(ecKey.get(), {{"CN", "Curve"}}, {.serial = 21});
  const X509Ptr keyless =
      testing::MakeCertificate(fixedKey.get(), {{"CN", "Keyless"}}, {.serial = 22});
  const X509Ptr locked =
      testing::MakeCertificate(fixedKey.get(), {{"CN", "Locked"}}, {.serial = 23});
  const X509Ptr stranger =
      testing::MakeCertificate(fixedKey.get(), {{"CN", "Stranger"}}, {.serial = 24});
  const X509Ptr walled =
      testing::MakeCertificate(fixedKey.get(), {{"CN", "Walled"}}, {.serial = 25});
  home.AddPemWithKey("My", "curve.pem", ecCert.get(), ecKey.get());
  home.AddFile("My", "keyless.cer", testing::DerOf(keyless.get()));
  home.AddFile("My", "locked.cer", testing::DerOf(locked.get()));
  home.AddFile("My", "locked.key", testing::PemOf(fixedKey.get(), "secret"));
  home.AddFile("My", "stranger.cer", testing::DerOf(stranger.get()));
  home.AddFile("My", "stranger.key", testing::PemOf(testing::TestRsaKey(1)));
  home.AddFile("My", "walled.cer", testing::DerOf(walled.get()));
  std::filesystem::create_directories(home.StoresDirectory() / "My" / "walled.key");
  const struct {
    std::wstring subject;
    std::string reason;
  } cases[] = {
      {L"Curve", "the private key is not an RSA key"},
      {L"Keyless", "no private key (no file keyless.key)"},
      {L"Locked", "the private key is encrypted"},
      {L"Stranger", "the private key does not match the certificate"},
      {L"Walled", "the key file walled.key cannot be read: Is a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.subject));
    Bytes message;
    EXPECT_FALSE(Sign(Choice(c.subject), "x", message));
    EXPECT_EQ(Strings{L"Can't sign data"}, errors);
    EXPECT_EQ(
        "brevick: cannot sign with certificate '" + ToUtf8(c.subject) + "': " + c.reason + "\n",
        stderrText);
  }
}

// Without -S the store is "MY": where both "MY" and "My" exist, the one of
// exactly that name signs, as a store named on the command line would.
TEST_F(SignerTest, TheDefaultStoreOpensByItsExactNameFirst) {
  const X509Ptr exact =
      testing::MakeCertificate(fixedKey.get(), {{"CN", "Default"}}, {.serial = 31});
  const X509Ptr folded =
      testing::MakeCertificate(fixedKey.get(), {{"CN", "Default"}}, {.serial = 32});
  StoreHome both;
  both.AddPemWithKey("My", "folded.pem", folded.get(), fixedKey.get());
  both.AddPemWithKey("MY", "exact.pem", exact.get(), fixedKey.get());
  Bytes message;
  ASSERT_TRUE(Sign(Choice(L"Default"), "x", message));
  EXPECT_EQ("brevick: signed by Default (SHA-256 " + Sha256Hex(exact.get()) + ")\n", stderrText);
}

TEST_F(SignerTest, StoresAreReadByTheirBytesAndBigFilesAreSkipped) {
  // A PEM file may carry text after its blocks: padding makes one of exactly
  // the limit (read) and one a byte over it (skipped without a word).
  const std::string pem = testing::PemOf(fixed.get()) + testing::PemOf(fixedKey.get());
  const auto padded = [&](std::uint64_t size) { return pem + std::string(size - pem.size(), '#'); };
  StoreHome bytesHome;
  bytesHome.AddFile("\xff\xfe", "a.pem", padded(kMaxCertificateFileSize));
  bytesHome.AddFile("\xff\xfe", "b.pem", padded(kMaxCertificateFileSize + 1));
  bytesHome.AddPemWithKey("Zeta", "z.pem", fixed.get(), fixedKey.get());

  const std::optional<CertStore> store = CertStore::Open(L"\xFFFD\xFFFD");
  ASSERT_TRUE(store);
  const std::vector<StoredCertificate> certificates = store->Certificates();
  ASSERT_EQ(1u, certificates.size());
  EXPECT_EQ("a.pem", certificates[0].fileName);
  EXPECT_TRUE(certificates[0].privateKey);

  SignerChoice choice = Choice(L"Fixed");
  choice.storeName = L"\xFFFD\xFFFD";
  Bytes message;
  EXPECT_TRUE(Sign(choice, "x", message));
  EXPECT_EQ(std::string::npos, stderrText.find("warning")) << stderrText;  // b.pem is not counted
}

}  // namespace
}  // namespace brevick
