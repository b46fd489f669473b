// tests/app/signer_test.cc: the certificate chosen for signing, the doubts and
// failures told before anything is signed, and the bytes signed; and what a
// store listing shows of certificates without a usual name, and of stores that
// vanish while listed.
#include "app/signer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/store_listing.h"
#include "base/report.h"
#include "base/utf8.h"
#include "cms/signed_message.h"
#include "pki/certificate_info.h"
#include "tests/support/bytes.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using testing::MakeCertificate;
using testing::StoreHome;
using Strings = std::vector<std::wstring>;
using Bytes = std::vector<std::uint8_t>;

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

  // Signs in a fresh capture; the message, errors and standard error are kept.
  bool Sign(const SignerChoice& choice, const std::string& content = "x") {
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
  Bytes message;
  Strings errors;
  std::string stderrText;
};

TEST_F(SignerTest, Md2OutputStaysTheBytesItAlwaysWas) {
  const std::string content =
      testing::ReadFileBytes(testing::TestDataPath("signing/fixed_content.xml"));
  ASSERT_TRUE(Sign({.subject = L"Fixed Signer", .storeName = L""}, content));
  EXPECT_EQ(testing::ReadFileBytes(testing::TestDataPath("signing/fixed_content_md2.p7")),
            std::string(message.begin(), message.end()));
}

TEST_F(SignerTest, AThumbprintChoosesAmongTwinsAndMustAgreeWithTheSubject) {
  const X509Ptr twin1 = MakeCertificate(fixedKey.get(), {{"CN", "Twin"}}, {.serial = 11});
  const X509Ptr twin2 = MakeCertificate(fixedKey.get(), {{"CN", "Twin"}}, {.serial = 12});
  home.AddPemWithKey("My", "twin1.pem", twin1.get(), fixedKey.get());
  home.AddPemWithKey("My", "twin2.pem", twin2.get(), fixedKey.get());
  const std::string sha256 = Sha256Hex(twin2.get());
  const struct {
    std::wstring subject;
    ThumbprintKind kind;
    bool found;
  } cases[] = {{L"", ThumbprintKind::kSha1, true},
               {L"twin", ThumbprintKind::kSha256, true},
               {L"Fixed", ThumbprintKind::kSha256, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.subject));
    const Bytes thumbprint = *ParseThumbprint(ThumbprintText(Thumbprint(twin2.get(), c.kind)));
    EXPECT_EQ(c.found, Sign({.subject = c.subject, .storeName = L"", .thumbprint = thumbprint}));
    EXPECT_EQ(c.found ? Strings{} : Strings{L"Could not find the specified signing certificate."},
              errors);
    EXPECT_EQ(c.found ? "brevick: signed by Twin (SHA-256 " + sha256 + ")\n"
                      : "brevick: no certificate in the default store (MY) has a subject "
                        "containing 'Fixed' and the SHA-256 thumbprint " +
                            sha256 + "\n",
              stderrText);
  }
}

// Several certificates that match are a doubt too: the first in file order
// signs, named.
TEST_F(SignerTest, EachDoubtIsAWarningAndWithStrictAnErrorThatSignsNothing) {
  const struct {
    testing::CertSpec shape;
    bool weakKey, twin;
    std::string clause;  // after "warning: " / "Refusing to sign: "
  } cases[] = {
      // clang-format off
      {{.notBeforeDays = -30, .notAfterDays = -1}, false, false, "certificate 'Doubt' expired on "},
      {{.notBeforeDays = 1, .notAfterDays = 30}, false, false, "certificate 'Doubt' is not valid before "},
      {{.keyUsage = "critical,keyEncipherment"}, false, false, "certificate 'Doubt' has a key usage without digitalSignature"},
      {{.extendedKeyUsage = "serverAuth"}, false, false, "certificate 'Doubt' has an extended key usage without codeSigning"},
      {{}, true, false, "certificate 'Doubt' has an RSA key of 1024 bits, under 2048"},
      {{}, false, true, "2 certificates in the default store (MY) match; the first in file order signs: 'Doubt' (SHA-256 "},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clause);
    const StoreHome doubtHome;
    EVP_PKEY* key = c.weakKey ? testing::TestRsaKey(0) : fixedKey.get();
    const X509Ptr doubt = MakeCertificate(key, {{"CN", "Doubt"}}, c.shape);
    doubtHome.AddPemWithKey("My", "doubt.pem", doubt.get(), key);
    if (c.twin) {
      doubtHome.AddPemWithKey("My", "doubt2.pem",
                              MakeCertificate(key, {{"CN", "Doubt"}}, {.serial = 9}).get(), key);
    }
    EXPECT_TRUE(Sign({.subject = L"Doubt", .storeName = L""}));
    EXPECT_EQ(Strings{}, errors);
    EXPECT_TRUE(stderrText.starts_with("brevick: warning: " + c.clause)) << stderrText;
    EXPECT_TRUE(
        stderrText.ends_with("brevick: signed by Doubt (SHA-256 " + Sha256Hex(doubt.get()) + ")\n"))
        << stderrText;
    EXPECT_FALSE(Sign({.subject = L"Doubt", .storeName = L"", .strict = true}));
    EXPECT_TRUE(message.empty());
    ASSERT_EQ(1u, errors.size());
    EXPECT_TRUE(ToUtf8(errors[0]).starts_with("Refusing to sign: " + c.clause));
    EXPECT_EQ(std::string::npos, stderrText.find("signed by"));
  }
}

// Why a key cannot sign is worked out by the store; this is how it is told.
TEST_F(SignerTest, AFailedSigningSaysWhyOnStandardError) {
  home.AddFile(
      "My", "keyless.cer",
      testing::DerOf(MakeCertificate(fixedKey.get(), {{"CN", "Keyless"}}, {.serial = 22}).get()));
  EXPECT_FALSE(Sign({.subject = L"Keyless", .storeName = L""}));
  EXPECT_EQ(Strings{L"Can't sign data"}, errors);
  EXPECT_EQ(
      "brevick: cannot sign with certificate 'Keyless': no private key (no file keyless.key)\n",
      stderrText);
}

// A store's name is its bytes; a file one byte over the size limit is passed
// over without a word (PEM text may follow the blocks: padding sets sizes).
TEST_F(SignerTest, StoresAreReadByTheirBytesAndBigFilesAreSkipped) {
  const std::string pem = testing::PemOf(fixed.get()) + testing::PemOf(fixedKey.get());
  const auto padded = [&](std::uint64_t size) { return pem + std::string(size - pem.size(), '#'); };
  const StoreHome bytesHome;
  bytesHome.AddFile("\xff\xfe", "a.pem", padded(kMaxCertificateFileSize));
  bytesHome.AddFile("\xff\xfe", "b.pem", padded(kMaxCertificateFileSize + 1));
  EXPECT_TRUE(Sign({.subject = L"Fixed", .storeName = L"\xFFFD\xFFFD"}));
  EXPECT_EQ(
      "brevick: signed by Brevick Tests, Fixed Signer (SHA-256 " + Sha256Hex(fixed.get()) + ")\n",
      stderrText);  // b.pem is not counted as a second match
}

// "CA" empty; "My" with a named certificate, one known by its mail address
// only, and a file that is no certificate; "Root" with a nameless one.
class StoreListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EVP_PKEY* key = testing::TestRsaKey(0);
    home.AddStore("CA");
    home.AddPemWithKey("My", "a.pem", MakeCertificate(key, {{"O", "Acme"}, {"CN", "Signer"}}).get(),
                       key);
    home.AddFile("My", "b.cer",
                 testing::DerOf(MakeCertificate(key, {{"C", "DE"}},
                                                {.serial = 2, .altNameEmail = "build@acme.example"})
                                    .get()));
    home.AddFile("My", "notes.txt", "not a certificate");
    home.AddFile("Root", "root.crt",
                 testing::PemOf(MakeCertificate(key, {{"C", "DE"}}, {.serial = 3}).get()));
    home.AddFile("", "not-a-store.pem", "x");  // a file beside the stores
  }

  void ExpectListing(bool withCertificates, StageResult result, const std::string& console,
                     const Strings& errors) {
    const ConsoleCapture capture;
    EXPECT_EQ(result, ListStores(withCertificates, std::nullopt));
    EXPECT_EQ(console, capture.Text());
    EXPECT_EQ(errors, Errors());
  }

  testing::StoreHome home;
};

TEST_F(StoreListingTest, ShowsEveryStoreAndNothingOnceTheStoresAreGone) {
  ExpectListing(true, StageResult::kGoOn,
                "Store 'CA'\nStore contained 0 certificate(s)\n"
                "Store 'My'\n Signer\n build@acme.example\nStore contained 2 certificate(s)\n"
                "Store 'Root'\n \nStore contained 1 certificate(s)\n",
                {});
  std::filesystem::remove_all(home.StoresDirectory());  // the data home stays
  ExpectListing(false, StageResult::kStoreNotShown, "", {L"No stores to display"});
}

// Listed as a store, gone when opened: as a store removed meanwhile.
TEST_F(StoreListingTest, StoreThatCannotBeOpenedEndsTheListing) {
  const std::filesystem::path removed = home.Root() / "removed";
  std::filesystem::create_directory_symlink(removed, home.StoresDirectory() / "Gone");
  ExpectListing(false, StageResult::kGoOn, "Store 'CA'\n",
                {L"Can't display information for store 'Gone'"});
  std::filesystem::create_directory_symlink(removed, home.StoresDirectory() / "A");
  ExpectListing(false, StageResult::kStoreNotShown, "",
                {L"Can't display information for store 'A'", L"No stores to display"});
}

}  // namespace
}  // namespace brevick
