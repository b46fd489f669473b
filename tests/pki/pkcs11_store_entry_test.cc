// Store entries whose key file names a key on a PKCS #11 token: read without
// touching any token.
#include <gtest/gtest.h>

#include "base/report.h"
#include "pki/cert_store.h"
#include "tests/support/signing_certs.h"

namespace brevick::testing {
namespace {

class Pkcs11StoreEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    certificate = MakeCertificate(TestRsaKey(0), {{"CN", "Token Signer"}});
    stores.AddFile("My", "signer.cer", DerOf(certificate.get()));
  }

  std::optional<StoredCertificate> Load() const {
    return CertStore::Open(L"My")->Find([](const X509*) { return true; }).chosen;
  }

  StoreHome stores;
  X509Ptr certificate;
};

TEST_F(Pkcs11StoreEntryTest, KeyFileWithAUriGivesATokenKey) {
  stores.AddFile("My", "signer.key",
                 "\n  pkcs11:token=release;object=signing-key?module-path=/m.so\r\nsecond line\n");
  const ConsoleCapture console;
  const std::optional<StoredCertificate> stored = Load();
  ASSERT_TRUE(stored);
  EXPECT_FALSE(stored->privateKey);
  ASSERT_TRUE(stored->tokenKey);
  EXPECT_TRUE(stored->HasKey());
  EXPECT_EQ("release", stored->tokenKey->token);
  EXPECT_EQ("signing-key", stored->tokenKey->object);
  EXPECT_EQ("/m.so", stored->tokenKey->modulePath);
  EXPECT_EQ("", console.ErrorText());
}

TEST_F(Pkcs11StoreEntryTest, MalformedUriLeavesTheCertificateKeylessAndSaysWhy) {
  stores.AddFile("My", "signer.key", "pkcs11:token=release;colour=blue\n");
  const ConsoleCapture console;
  const std::optional<StoredCertificate> stored = Load();
  ASSERT_TRUE(stored);
  EXPECT_FALSE(stored->HasKey());
  EXPECT_EQ(KeyProblem::kBadTokenUri, stored->keyStatus.problem);
  EXPECT_EQ(L"signer.key: a PKCS #11 URI attribute that is not understood: 'colour'",
            KeyProblemText(stored->keyStatus));
  EXPECT_EQ("", console.ErrorText());  // reading a store prints nothing
}

TEST_F(Pkcs11StoreEntryTest, PemKeyFileStaysAKeyInAFile) {
  stores.AddFile("My", "signer.key", PemOf(TestRsaKey(0)));
  const std::optional<StoredCertificate> stored = Load();
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->privateKey);
  EXPECT_FALSE(stored->tokenKey);
}

}  // namespace
}  // namespace brevick::testing
