// The certificate module and loader: the uses and validity a signer needs,
// how a field reads in the listing and in the verify report, and certificate
// files as every reader loads them.
#include "pki/certificate_info.h"

#include <gtest/gtest.h>

#include "base/hex_text.h"
#include "pki/certificate_file.h"
#include "pki/trust.h"
#include "tests/support/bytes.h"
#include "tests/support/signing_certs.h"

namespace brevick::testing {
namespace {

TEST(CertificateInfoTest, UsesAndValidityDecideWhetherACertificateMaySign) {
  const struct {
    CertificateShape shape;
    std::string problems;  // key usage alone, then with code signing required, then validity
  } cases[] = {
      // clang-format off
      {{}, "||"},
      {{0, 365, "digitalSignature", "codeSigning"}, "||"},
      {{0, 365, "", "anyExtendedKeyUsage"}, "||"},
      {{0, 365, "", "serverAuth"}, "|its extended key usage does not allow code signing|"},
      {{0, 365, "keyEncipherment", "codeSigning"}, "its key usage does not allow digital signatures|its key usage does not allow digital signatures|"},
      {{-30, -1, "", ""}, "||certificate has expired"},
      {{1, 30, "", ""}, "||certificate is not yet valid"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problems);
    const X509Ptr cert = MakeShapedCertificate(TestRsaKey(0), {{"CN", "Signer"}}, c.shape);
    EXPECT_EQ(c.problems, std::string(SigningUsageText(CheckSigningUsage(cert.get(), false))) +
                              "|" + SigningUsageText(CheckSigningUsage(cert.get(), true)) + "|" +
                              ValidityProblem(cert.get()));
  }
}

TEST(CertificateInfoTest, FieldsReadAsTheListingAndTheReportShowThemAndThumbprintsAsPasted) {
  const X509Ptr cert = MakeCertificate(TestRsaKey(0), {{"CN", "Signer"}});
  const EvpPkeyPtr ec = MakeEcKey();
  const auto parsed = [](const std::wstring& text) {
    return HexText(ParseThumbprint(text).value_or(std::vector<std::uint8_t>{}));
  };
  const std::pair<std::string, std::string> cases[] = {
      // clang-format off
      {KeyDescription(ec.get(), KeyStyle::kListing) + " / " + KeyDescription(ec.get(), KeyStyle::kReport), "EC prime256v1 256 bits / EC 256"},
      {TimeText(nullptr, TimeStyle::kListing) + " / " + TimeText(nullptr, TimeStyle::kRfc3339), "(unreadable) / "},
      {parsed(ThumbprintText(Thumbprint(cert.get(), ThumbprintKind::kSha256))), Sha256Thumbprint(cert.get())},
      {parsed(L"AB:cd ef\t01" + std::wstring(32, L'0')), "abcdef01" + std::string(32, '0')},  // any case, colons, blanks, tabs
      {parsed(std::wstring(64, L'F')), std::string(64, 'f')},
      {parsed(std::wstring(63, L'a')), ""},
      {parsed(L"0x" + std::wstring(40, L'0')), ""},
      // clang-format on
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(expected, actual);
}

TEST(CertificateFileTest, ReadsEveryPemCertificateOrOneDerAndRefusesAFileWithABrokenBlock) {
  const X509Ptr a = MakeCertificate(TestRsaKey(0), {{"CN", "a"}});
  const X509Ptr b = MakeCertificate(TestRsaKey(1), {{"CN", "b"}});
  const std::string broken = "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n";
  const struct {
    std::string bytes;
    PkiFileResult certificates, crls;
    std::size_t count;
  } cases[] = {
      // clang-format off
      {PemOf(a.get()) + "text between\n" + PemOf(TestRsaKey(0)) + PemOf(b.get()), PkiFileResult::kOk, PkiFileResult::kEmpty, 2},
      {DerOf(a.get()), PkiFileResult::kOk, PkiFileResult::kCannotDecode, 1},
      {DerOf(a.get()) + "x", PkiFileResult::kCannotDecode, PkiFileResult::kCannotDecode, 0},
      {PemOf(a.get()) + broken + PemOf(b.get()), PkiFileResult::kCannotDecode, PkiFileResult::kEmpty, 0},
      {"", PkiFileResult::kEmpty, PkiFileResult::kEmpty, 0},
      {"junk", PkiFileResult::kCannotDecode, PkiFileResult::kCannotDecode, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::vector<X509Ptr> certificates;
    std::vector<X509CrlPtr> crls;
    EXPECT_EQ(c.certificates, DecodeCertificates(Bytes(c.bytes), certificates));
    EXPECT_EQ(c.count, certificates.size());
    EXPECT_EQ(c.crls, DecodeCrls(Bytes(c.bytes), crls));
  }
}

}  // namespace
}  // namespace brevick::testing
