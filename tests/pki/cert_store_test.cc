// tests/signing/cert_store_test.cc
#include "pki/cert_store.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "base/utf8.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using testing::MakeCertificate;
using testing::StoreHome;

TEST(CertStoreTest, StoresDirectoryFollowsTheXdgRules) {
  const testing::TempDir home;
  const testing::ScopedEnv homeVariable("HOME", home.Path().string());
  const struct {
    std::optional<std::string> dataHome;
    std::string directory;
  } cases[] = {
      // clang-format off
      {std::nullopt, home.Path().string() + "/.local/share/brevick/certstores"},
      {"relative/dir", home.Path().string() + "/.local/share/brevick/certstores"},  // invalid, ignored
      {"/data", "/data/brevick/certstores"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dataHome.value_or("(unset)"));
    const testing::ScopedEnv dataHome("XDG_DATA_HOME", c.dataHome);
    EXPECT_EQ(c.directory, CertStoresDirectory());
  }
}

TEST(CertStoreTest, OpensByExactNameFirstThenIgnoringAsciiCase) {
  const StoreHome home;
  const X509Ptr upper = MakeCertificate(testing::TestRsaKey(0), {{"CN", "In MY"}});
  const X509Ptr lower = MakeCertificate(testing::TestRsaKey(0), {{"CN", "In my"}});
  home.AddFile("MY", "a.pem", testing::PemOf(upper.get()));
  home.AddFile("my", "a.pem", testing::PemOf(lower.get()));
  home.AddStore("\xC3\x84rger");
  const struct {
    std::wstring name;
    std::optional<std::wstring> subject;
  } cases[] = {
      {L"MY", L"In MY"},
      {L"my", L"In my"},
      {L"My", L"In MY"},              // no exact match: the first in byte order
      {L"\u00E4rger", std::nullopt},  // only ASCII letters fold
      {L"", std::nullopt},
      {L"..", std::nullopt},
      {L"MY/..", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.name));
    const std::optional<CertStore> store = CertStore::Open(c.name);
    ASSERT_EQ(c.subject.has_value(), store.has_value());
    if (store) {
      ASSERT_EQ(1u, store->Certificates().size());
      EXPECT_EQ(*c.subject, SubjectText(store->Certificates()[0].certificate.get()));
    }
  }
}

TEST(CertStoreTest, ReadsCertificateFilesInNameOrderWithTheirUsableKeysAndPassesOverTheRest) {
  const StoreHome home;
  EVP_PKEY* key = testing::TestRsaKey(0);
  auto pem = [&](const char* name) {
    return testing::PemOf(MakeCertificate(key, {{"CN", name}}).get());
  };
  auto der = [&](const char* name) {
    return testing::DerOf(MakeCertificate(key, {{"CN", name}}).get());
  };
  const X509Ptr p12 = MakeCertificate(key, {{"CN", "p12"}});
  const std::pair<const char*, std::string> files[] = {
      {"A.CER", der("upper")},
      {"b.p12", testing::Pkcs12Of(p12.get(), key)},
      {"c.pem", pem("inline") + testing::PemOf(key)},
      {"d.crt", der("keyfile")},
      {"d.key", testing::PemOf(key)},
      {"e.cer", pem("encrypted")},
      {"e.key", testing::PemOf(key, "secret")},
      {"f.pem", pem("foreign") + testing::PemOf(testing::TestRsaKey(1))},
      {"g.txt", pem("not a certificate file name")},
      {"h.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n"},  // does not decode
      {"i.p12", "garbage"},
      {"k.cer", der("trailing bytes") + "x"},
  };
  for (const auto& [name, bytes] : files) home.AddFile("S", name, bytes);
  std::filesystem::create_directories(home.StoresDirectory() / "S" / "l.pem");
  ASSERT_EQ(0, mkfifo((home.StoresDirectory() / "S" / "m.pem").c_str(), 0600));  // must not block
  std::vector<std::string> found;
  for (const StoredCertificate& stored : CertStore::Open(L"S")->Certificates()) {
    found.push_back(ToUtf8(SubjectText(stored.certificate.get())) +
                    (stored.privateKey ? " with key" : ""));
  }
  const std::vector<std::string> expected = {
      "upper", "p12 with key", "inline with key", "keyfile with key", "encrypted", "foreign"};
  EXPECT_EQ(expected, found);
}

TEST(CertStoreTest, SubjectTextAndDisplayName) {
  EVP_PKEY* key = testing::TestRsaKey(0);
  const struct {
    testing::SubjectEntries subject;
    std::string altEmail;
    std::wstring text, display;
  } cases[] = {
      // clang-format off
      {{{"C", "DE"}, {"O", "Acme"}, {"OU", "Build"}, {"CN", "Signer"}}, "", L"DE, Acme, Build, Signer", L"Signer"},
      {{{"C", "DE"}, {"O", "Acme"}, {"OU", "Build"}}, "", L"DE, Acme, Build", L"Build"},
      {{{"emailAddress", "a@b.example"}, {"C", "DE"}}, "", L"a@b.example, DE", L"a@b.example"},
      {{{"C", "DE"}}, "alt@b.example", L"DE", L"alt@b.example"},
      {{{"C", "DE"}}, "", L"DE", L""},
      {{{"CN", "J\xC3\xBCrgen"}}, "", L"J\u00FCrgen", L"J\u00FCrgen"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    const X509Ptr cert = MakeCertificate(key, c.subject, {.altNameEmail = c.altEmail});
    EXPECT_EQ(c.text, SubjectText(cert.get()));
    EXPECT_EQ(c.display, SimpleDisplayName(cert.get()));
  }
}

TEST(CertStoreTest, ContainsIgnoringCase) {
  const struct {
    std::wstring text, part;
    bool contains;
  } cases[] = {
      {L"DE, Acme GmbH, Release", L"acme gmbh", true},
      {L"J\u00FCrgen M\u00FCller", L"J\u00DCRGEN", true},
      {L"\u0418\u0432\u0430\u043D", L"\u0438\u0412\u0410\u041D", true},
      {L"Acme", L"Acme Ltd", false},
      {L"", L"", true},
      {L"", L"a", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text) + " / " + ToUtf8(c.part));
    EXPECT_EQ(c.contains, ContainsIgnoringCase(c.text, c.part));
  }
}

}  // namespace
}  // namespace brevick
