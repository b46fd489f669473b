// Certificate stores: where they are, which one a name opens, which files
// count and which keys can sign, and the subject match.
#include "pki/cert_store.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "base/utf8.h"
#include "tests/support/signing_certs.h"

namespace brevick::testing {
namespace {

TEST(CertStoreTest, ARelativeXdgDataHomeIsIgnoredForTheHomeDirectory) {
  const TempDir home;
  const ScopedEnv homeVariable("HOME", home.Path().string());
  const ScopedEnv dataHome("XDG_DATA_HOME", "relative/dir");
  EXPECT_EQ(home.Path().string() + "/.local/share/brevick/certstores", CertStoresDirectory());
}

TEST(CertStoreTest, OpensByExactNameFirstThenIgnoringAsciiCase) {
  const StoreHome home;
  home.AddFile("MY", "a.pem", PemOf(MakeCertificate(TestRsaKey(0), {{"CN", "In MY"}}).get()));
  home.AddFile("my", "a.pem", PemOf(MakeCertificate(TestRsaKey(0), {{"CN", "In my"}}).get()));
  home.AddStore("\xC3\x84rger");
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"MY", L"In MY"},    {L"my", L"In my"},
      {L"My", L"In MY"},     // no exact match: the first in byte order
      {L"\u00E4rger", L""},  // only ASCII letters fold; empty: the store does not open
      {L"", L""},           {L"..", L""},
      {L"MY/..", L""},
  };
  for (const auto& [name, subject] : cases) {
    const std::optional<CertStore> store = CertStore::Open(name);
    EXPECT_EQ(subject, store ? SubjectText(store->Certificates().at(0).certificate.get()) : L"");
  }
}

TEST(CertStoreTest, ReadsCertificateFilesInNameOrderWithTheirUsableKeysAndPassesOverTheRest) {
  const StoreHome home;
  EVP_PKEY* key = TestRsaKey(0);
  auto pem = [&](const char* name) { return PemOf(MakeCertificate(key, {{"CN", name}}).get()); };
  auto der = [&](const char* name) { return DerOf(MakeCertificate(key, {{"CN", name}}).get()); };
  const struct {
    const char* name;
    std::string bytes;
    const char* listed;  // the certificate and its key, or why it has none; null: not listed
  } files[] = {
      // clang-format off
      {"A.CER", der("upper"), "upper: no private key (no file A.key)"},
      {"b.p12", Pkcs12Of(MakeCertificate(key, {{"CN", "p12"}}).get(), key), "p12: key"},
      {"c.pem", pem("inline") + PemOf(key), "inline: key"},
      {"d.crt", der("keyfile"), "keyfile: key"},
      {"d.key", PemOf(key), nullptr},
      {"e.cer", pem("encrypted"), "encrypted: the private key is encrypted"},
      {"e.key", PemOf(key, "secret"), nullptr},
      {"f.pem", pem("foreign") + PemOf(TestRsaKey(1)), "foreign: the private key does not match the certificate"},
      {"g.txt", pem("not a certificate file name"), nullptr},
      {"h.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n", nullptr},
      {"i.p12", "garbage", nullptr},
      {"k.cer", der("trailing bytes") + "x", nullptr},
      {"n.cer", der("on a token"), "on a token: token release object signing-key"},
      {"n.key", "\n  pkcs11:token=release;object=signing-key?module-path=/m.so\r\nsecond line\n", nullptr},
      {"o.cer", der("bad URI"), "bad URI: o.key: a PKCS #11 URI attribute that is not understood: 'colour'"},
      {"o.key", "pkcs11:token=release;colour=blue\n", nullptr},
      {"q.cer", der("junk key"), "junk key: the key file q.key holds no readable private key"},
      {"q.key", "junk", nullptr},
      {"r.cer", pem("EC key") + PemOf(MakeEcKey().get()), "EC key: the private key is not an RSA key"},
      // clang-format on
  };
  std::vector<std::string> expected, listed;
  for (const auto& file : files) {
    home.AddFile("S", file.name, file.bytes);
    if (file.listed != nullptr) expected.emplace_back(file.listed);
  }
  std::filesystem::create_directories(home.StoresDirectory() / "S" / "l.pem");
  ASSERT_EQ(0, mkfifo((home.StoresDirectory() / "S" / "m.pem").c_str(), 0600));  // must not block
  for (const StoredCertificate& stored : CertStore::Open(L"S")->Certificates()) {
    std::string where = stored.privateKey ? "key" : ToUtf8(KeyProblemText(stored.keyStatus));
    if (stored.tokenKey)
      where = "token " + *stored.tokenKey->token + " object " + *stored.tokenKey->object;
    listed.push_back(ToUtf8(SubjectText(stored.certificate.get())) + ": " + where);
  }
  EXPECT_EQ(expected, listed);
}

TEST(CertStoreTest, ContainsIgnoringCase) {
  EXPECT_TRUE(ContainsIgnoringCase(L"DE, Acme GmbH, Release", L"acme gmbh"));
  EXPECT_TRUE(ContainsIgnoringCase(L"J\u00FCrgen M\u0141\u00F3d\u017A",
                                   L"J\u00DCRGEN m\u0142\u00D3D\u0179"));
  EXPECT_TRUE(ContainsIgnoringCase(L"\u0418\u0432\u0430\u043D \u03A3\u03C9",
                                   L"\u0438\u0412\u0410\u041D \u03C3\u03A9"));
  EXPECT_FALSE(ContainsIgnoringCase(L"Acme", L"Acme Ltd"));
  EXPECT_TRUE(ContainsIgnoringCase(L"", L""));
  EXPECT_FALSE(ContainsIgnoringCase(L"", L"a"));
}

}  // namespace
}  // namespace brevick::testing
