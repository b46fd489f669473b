// tests/signing/cert_store_test.cc
#include "signing/cert_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/utf8.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using testing::MakeCertificate;
using testing::StoreHome;

std::vector<std::wstring> SubjectsOf(const CertStore& store) {
  std::vector<std::wstring> subjects;
  for (const StoredCertificate& stored : store.Certificates()) subjects.push_back(SubjectText(stored.certificate.get()));
  return subjects;
}

TEST(CertStoreTest, StoresAreSubdirectoriesInByteOrder) {
  const StoreHome home;
  for (const char* name : {"trust", "My", "CA", "Root", "\xC3\x84rger"}) home.AddStore(name);
  home.AddFile("", "not-a-store.pem", "x");  // a file beside the stores
  const std::vector<std::wstring> expected = {L"CA", L"My", L"Root", L"trust", L"\u00C4rger"};
  EXPECT_EQ(expected, EnumerateStoreNames());
}

TEST(CertStoreTest, StoresDirectoryFollowsTheXdgRules) {
  const testing::TempDir home;
  const testing::ScopedEnv homeVariable("HOME", home.Path().string());
  const struct { std::optional<std::string> dataHome; std::string directory; } cases[] = {
      {std::nullopt, home.Path().string() + "/.local/share/brevick/certstores"},
      {"", home.Path().string() + "/.local/share/brevick/certstores"},
      {"relative/dir", home.Path().string() + "/.local/share/brevick/certstores"},  // invalid, ignored
      {"/data", "/data/brevick/certstores"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dataHome.value_or("(unset)"));
    const testing::ScopedEnv dataHome("XDG_DATA_HOME", c.dataHome);
    EXPECT_EQ(c.directory, CertStoresDirectory());
  }
  const testing::ScopedEnv dataHome("XDG_DATA_HOME", std::nullopt);
  std::filesystem::create_directories(home.Path() / ".local/share/brevick/certstores/My");
  EXPECT_EQ(std::vector<std::wstring>{L"My"}, EnumerateStoreNames());
}

TEST(CertStoreTest, OpensByExactNameFirstThenIgnoringAsciiCase) {
  const StoreHome home;
  const X509Ptr upper = MakeCertificate(testing::TestRsaKey(0), {{"CN", "In MY"}});
  const X509Ptr lower = MakeCertificate(testing::TestRsaKey(0), {{"CN", "In my"}});
  home.AddFile("MY", "a.pem", testing::PemOf(upper.get()));
  home.AddFile("my", "a.pem", testing::PemOf(lower.get()));
  home.AddStore("\xC3\x84rger");
  const struct { std::wstring name; std::optional<std::wstring> subject; } cases[] = {
      {L"MY", L"In MY"},
      {L"my", L"In my"},
      {L"My", L"In MY"},     // no exact match: the first in byte order
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
      EXPECT_EQ(std::vector<std::wstring>{*c.subject}, SubjectsOf(*store));
    }
  }
}

TEST(CertStoreTest, ReadsCertificateFilesInNameOrderAndPassesOverTheRest) {
  const StoreHome home;
  auto cert = [](const char* name) { return MakeCertificate(testing::TestRsaKey(0), {{"CN", name}}); };
  const X509Ptr pem = cert("pem"), crt = cert("crt"), cer = cert("cer"), p12 = cert("p12"), pfx = cert("pfx"),
                upper = cert("upper");
  home.AddFile("S", "e.pem", testing::PemOf(pem.get()));
  home.AddFile("S", "d.crt", testing::DerOf(crt.get()));
  home.AddFile("S", "c.cer", testing::PemOf(cer.get()));
  home.AddPkcs12("S", "b.p12", p12.get(), testing::TestRsaKey(0));
  home.AddPkcs12("S", "a.pfx", pfx.get(), testing::TestRsaKey(0));
  home.AddFile("S", "F.CER", testing::DerOf(upper.get()));
  home.AddFile("S", "g.txt", testing::PemOf(pem.get()));          // not a certificate file name
  home.AddFile("S", "h.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n");  // does not decode
  home.AddFile("S", "i.p12", "garbage");
  home.AddFile("S", "j.key", testing::PemOf(testing::TestRsaKey(0)));
  home.AddFile("S", "k.cer", testing::DerOf(pem.get()) + "x");    // trailing bytes
  std::filesystem::create_directories(home.StoresDirectory() / "S" / "l.pem");
  ASSERT_EQ(0, mkfifo((home.StoresDirectory() / "S" / "m.pem").c_str(), 0600));  // must not block
  const std::vector<std::wstring> expected = {L"upper", L"pfx", L"p12", L"cer", L"crt", L"pem"};
  EXPECT_EQ(expected, SubjectsOf(*CertStore::Open(L"S")));
}

TEST(CertStoreTest, KeyComesFromTheFileOrFromItsKeyFileOnlyWhenUsable) {
  const StoreHome home;
  EVP_PKEY* key = testing::TestRsaKey(0);
  const X509Ptr cert = MakeCertificate(key, {{"CN", "x"}});
  home.AddFile("S", "a-inline.pem", testing::PemOf(cert.get()) + testing::PemOf(key));
  home.AddFile("S", "b-keyfile.crt", testing::PemOf(cert.get()));
  home.AddFile("S", "b-keyfile.key", testing::PemOf(key));
  home.AddFile("S", "c-none.cer", testing::DerOf(cert.get()));
  home.AddFile("S", "d-encrypted.cer", testing::DerOf(cert.get()));
  home.AddFile("S", "d-encrypted.key", testing::PemOf(key, "secret"));
  home.AddFile("S", "e-foreign.pem", testing::PemOf(cert.get()) + testing::PemOf(testing::TestRsaKey(1)));
  std::vector<bool> hasKey;
  for (const StoredCertificate& stored : CertStore::Open(L"S")->Certificates()) hasKey.push_back(stored.privateKey != nullptr);
  EXPECT_EQ((std::vector<bool>{true, true, false, false, false}), hasKey);
}

TEST(CertStoreTest, SubjectTextAndDisplayName) {
  EVP_PKEY* key = testing::TestRsaKey(0);
  const struct { testing::SubjectEntries subject; std::string altEmail; std::wstring text, display; } cases[] = {
      {{{"C", "DE"}, {"O", "Acme"}, {"OU", "Build"}, {"CN", "Signer"}}, "", L"DE, Acme, Build, Signer", L"Signer"},
      {{{"O", "Acme"}, {"OU", "Build"}}, "", L"Acme, Build", L"Build"},
      {{{"C", "DE"}, {"O", "Acme"}}, "", L"DE, Acme", L"Acme"},
      {{{"emailAddress", "a@b.example"}, {"C", "DE"}}, "", L"a@b.example, DE", L"a@b.example"},
      {{{"C", "DE"}}, "alt@b.example", L"DE", L"alt@b.example"},
      {{{"C", "DE"}}, "", L"DE", L""},
      {{{"CN", "J\xC3\xBCrgen"}}, "", L"J\u00FCrgen", L"J\u00FCrgen"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    const X509Ptr cert = MakeCertificate(key, c.subject, 1, c.altEmail);
    EXPECT_EQ(c.text, SubjectText(cert.get()));
    EXPECT_EQ(c.display, SimpleDisplayName(cert.get()));
  }
}

TEST(CertStoreTest, ContainsIgnoringCase) {
  const struct { std::wstring text, part; bool contains; } cases[] = {
      {L"DE, Acme GmbH, Release", L"acme gmbh", true},
      {L"J\u00FCrgen M\u00FCller", L"J\u00DCRGEN", true},
      {L"\u0141\u00F3d\u017A", L"\u0142\u00D3D\u0179", true},
      {L"\u0418\u0432\u0430\u043D", L"\u0438\u0412\u0410\u041D", true},
      {L"\u0391\u03B8\u03AE\u03BD\u03B1", L"\u03B1\u0398", true},
      {L"Acme", L"Acme Ltd", false},
      {L"Acme", L"", true},
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
