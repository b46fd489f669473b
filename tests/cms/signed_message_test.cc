// tests/cms/signed_message_test.cc
#include "cms/signed_message.h"

#include <openssl/objects.h>
#include <openssl/rsa.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "digest/md2.h"
#include "pki/crypto_result.h"
#include "tests/support/bytes.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using testing::MakeCertificate;
using testing::StoreHome;

using testing::Bytes;

const std::vector<std::uint8_t> kManifest = Bytes(
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dravanePackage>\n    "
    "<package/>\n</dravanePackage>\n");

const testing::SubjectEntries kSignerSubject = {
    {"C", "DE"}, {"O", "Brevick Test"}, {"CN", "Release Signer"}};

// DER DigestInfo prefix for md2 with NULL parameters, followed by the digest.
const std::vector<std::uint8_t> kMd2DigestInfoPrefix = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08,
                                                        0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d,
                                                        0x02, 0x02, 0x05, 0x00, 0x04, 0x10};

CryptoResult Verify(std::span<const std::uint8_t> message, std::vector<std::uint8_t>& content) {
  const OpenSslErrorScope errorScope;
  return VerifySignedMessage(message, content);
}

Pkcs7Ptr Decode(const std::vector<std::uint8_t>& message) {
  const unsigned char* next = message.data();
  return Pkcs7Ptr(d2i_PKCS7(nullptr, &next, static_cast<long>(message.size())));
}

// Decodes the message with OpenSSL, lets `change` edit it, encodes it again.
std::vector<std::uint8_t> Altered(const std::vector<std::uint8_t>& message,
                                  const std::function<void(PKCS7*)>& change) {
  const Pkcs7Ptr decoded = Decode(message);
  change(decoded.get());
  unsigned char* der = nullptr;
  const int size = i2d_PKCS7(decoded.get(), &der);
  const OpenSslBytesPtr owned(der);
  return size > 0 ? std::vector<std::uint8_t>(der, der + size) : std::vector<std::uint8_t>{};
}

// Checks the fields a reader relies on, with OpenSSL's decoder and an RSA
// recovery of our own, independently of Verify.
void ExpectWellFormedSignedManifest(const std::vector<std::uint8_t>& message, X509* signer) {
  const Pkcs7Ptr decoded = Decode(message);
  ASSERT_TRUE(decoded && PKCS7_type_is_signed(decoded.get()));
  const PKCS7_SIGNED* signedData = decoded->d.sign;
  EXPECT_EQ(1, ASN1_INTEGER_get(signedData->version));
  ASSERT_EQ(1, sk_X509_ALGOR_num(signedData->md_algs));
  EXPECT_EQ(NID_md2, OBJ_obj2nid(sk_X509_ALGOR_value(signedData->md_algs, 0)->algorithm));
  EXPECT_EQ(nullptr, sk_X509_ALGOR_value(signedData->md_algs, 0)->parameter);
  ASSERT_TRUE(PKCS7_type_is_data(signedData->contents) && signedData->contents->d.data != nullptr);
  const ASN1_OCTET_STRING* content = signedData->contents->d.data;
  EXPECT_EQ(kManifest, std::vector<std::uint8_t>(
                           ASN1_STRING_get0_data(content),
                           ASN1_STRING_get0_data(content) + ASN1_STRING_length(content)));
  ASSERT_EQ(1, sk_X509_num(signedData->cert));
  EXPECT_EQ(0, X509_cmp(signer, sk_X509_value(signedData->cert, 0)));
  EXPECT_EQ(nullptr, signedData->crl);  // absent, not an empty set
  ASSERT_EQ(1, sk_PKCS7_SIGNER_INFO_num(signedData->signer_info));
  const PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(signedData->signer_info, 0);
  EXPECT_EQ(0, X509_NAME_cmp(X509_get_issuer_name(signer), info->issuer_and_serial->issuer));
  EXPECT_EQ(0, ASN1_INTEGER_cmp(X509_get0_serialNumber(signer), info->issuer_and_serial->serial));
  EXPECT_EQ(NID_md2, OBJ_obj2nid(info->digest_alg->algorithm));
  EXPECT_EQ(nullptr, info->digest_alg->parameter);
  EXPECT_EQ(NID_rsaEncryption, OBJ_obj2nid(info->digest_enc_alg->algorithm));
  EXPECT_EQ(nullptr, info->auth_attr);
  EXPECT_EQ(nullptr, info->unauth_attr);

  const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new(X509_get0_pubkey(signer), nullptr));
  ASSERT_EQ(1, EVP_PKEY_verify_recover_init(context.get()));
  ASSERT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING));
  std::vector<std::uint8_t> recovered(512);
  std::size_t size = recovered.size();
  ASSERT_EQ(1, EVP_PKEY_verify_recover(
                   context.get(), recovered.data(), &size, ASN1_STRING_get0_data(info->enc_digest),
                   static_cast<std::size_t>(ASN1_STRING_length(info->enc_digest))));
  recovered.resize(size);
  std::vector<std::uint8_t> expected = kMd2DigestInfoPrefix;
  const Md2Digest digest = ComputeMd2(kManifest);
  expected.insert(expected.end(), digest.begin(), digest.end());
  EXPECT_EQ(expected, recovered);
}

// All signers in "My": the empty store name means "My", store names and
// subjects match ignoring case, and the first match in file name order signs.
TEST(SignedMessageTest, SignsAndVerifiesFromEveryStoreFormat) {
  const StoreHome home;
  const X509Ptr pem =
      MakeCertificate(testing::TestRsaKey(0), {{"CN", "Pem Signer"}}, {.serial = 11});
  const X509Ptr der =
      MakeCertificate(testing::TestRsaKey(1), {{"CN", "Der Signer"}}, {.serial = 12});
  const X509Ptr p12 = MakeCertificate(testing::TestRsaKey(2), kSignerSubject, {.serial = 13});
  home.AddFile("My", "0.pem", "not a certificate");  // skipped without a word
  home.AddFile("My", "c.PFX", testing::Pkcs12Of(p12.get(), testing::TestRsaKey(2)));
  home.AddFile("My", "b.cer", testing::DerOf(der.get()));
  home.AddFile("My", "b.key", testing::PemOf(testing::TestRsaKey(1)));
  home.AddPemWithKey("My", "a.pem", pem.get(), testing::TestRsaKey(0));
  const struct {
    std::wstring subject, store;
    X509* signer;
  } cases[] = {
      {L"Pem Signer", L"", pem.get()},     {L"Der Signer", L"My", der.get()},
      {L"release signer", L"", p12.get()}, {L"Release", L"my", p12.get()},
      {L"Signer", L"", pem.get()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.subject) + " in " + ToUtf8(c.store));
    std::vector<std::uint8_t> message;
    EXPECT_EQ(CryptoResult::kOk, testing::SignFromStore(c.subject, kManifest, message, c.store));
    ExpectWellFormedSignedManifest(message, c.signer);
    std::vector<std::uint8_t> content;
    EXPECT_EQ(CryptoResult::kOk, Verify(message, content));
    EXPECT_EQ(kManifest, content);
  }
  EXPECT_EQ(0u, ERR_peek_error());  // nothing left behind in OpenSSL's queue
}

TEST(SignedMessageTest, SignReportsWhyItCannotSign) {
  const StoreHome home;
  const EvpPkeyPtr ecKey = testing::MakeEcKey();
  auto add = [&](const char* file, const testing::SubjectEntries& subject, EVP_PKEY* certKey,
                 std::string key) {
    home.AddFile("My", file, testing::PemOf(MakeCertificate(certKey, subject).get()) + key);
  };
  EVP_PKEY* rsa = testing::TestRsaKey(0);
  add("no-key.pem", {{"CN", "No Key"}}, rsa, "");
  add("wrong-key.pem", {{"CN", "Wrong Key"}}, rsa, testing::PemOf(testing::TestRsaKey(1)));
  add("encrypted.pem", {{"CN", "Encrypted Key"}}, rsa, testing::PemOf(rsa, "secret"));
  add("ec.pem", {{"CN", "Elliptic"}}, ecKey.get(), testing::PemOf(ecKey.get()));
  add("nameless.pem", {{"C", "DE"}, {"L", "Nowhere"}}, rsa, testing::PemOf(rsa));
  const struct {
    std::wstring subject;
    std::wstring store;
    CryptoResult code;
  } cases[] = {
      // clang-format off
      {L"No Key", L"", CryptoResult::kCannotSign},     // certificate only, no <stem>.key
      {L"Wrong Key", L"", CryptoResult::kCannotSign},  // the key of another certificate
      {L"Encrypted Key", L"", CryptoResult::kCannotSign},                    // refused without asking for a passphrase
      {L"Elliptic", L"", CryptoResult::kCannotSign},  // PKCS #1 v1.5 needs RSA
      {L"Nowhere", L"", CryptoResult::kNoSigningCertificate},  // found, but without a display name
      {L"Nobody", L"", CryptoResult::kNoSigningCertificate},
      {L"No Key", L"Other", CryptoResult::kCannotOpenStore},  // no such store
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.subject) + " in " + ToUtf8(c.store));
    std::vector<std::uint8_t> message = {1, 2, 3};
    EXPECT_EQ(c.code, testing::SignFromStore(c.subject, kManifest, message, c.store));
    EXPECT_TRUE(message.empty());
  }
  EXPECT_EQ(0u, ERR_peek_error());
}

TEST(SignedMessageTest, VerifyTellsWhatIsWrongWithTheMessage) {
  const StoreHome home;
  const X509Ptr cert = MakeCertificate(testing::TestRsaKey(0), kSignerSubject, {.serial = 77});
  const X509Ptr stranger = MakeCertificate(testing::TestRsaKey(1), kSignerSubject, {.serial = 78});
  const X509Ptr nameless = MakeCertificate(testing::TestRsaKey(0), {{"C", "DE"}}, {.serial = 77});
  home.AddPemWithKey("My", "signer.pem", cert.get(), testing::TestRsaKey(0));
  std::vector<std::uint8_t> good;
  ASSERT_EQ(CryptoResult::kOk, testing::SignFromStore(L"Release Signer", kManifest, good, L""));
  std::vector<std::uint8_t> withTrailer = good;
  withTrailer.push_back(0);
  auto withCertificate = [&](X509* certificate) {
    return Altered(good, [&](PKCS7* m) {
      sk_X509_pop_free(m->d.sign->cert, X509_free);
      m->d.sign->cert = nullptr;
      PKCS7_add_certificate(m, certificate);
    });
  };
  const std::vector<std::uint8_t> altered =
      Altered(good, [](PKCS7* m) { m->d.sign->contents->d.data->data[10] ^= 1; });
  const struct {
    const char* what;
    std::vector<std::uint8_t> message;
    CryptoResult code;
    bool givesContent;
  } cases[] = {
      // clang-format off
      {"as signed", good, CryptoResult::kOk, true},
      {"plain XML", kManifest, CryptoResult::kNotSignedMessage, false},
      {"empty", {}, CryptoResult::kNotSignedMessage, false},
      {"a byte after the message", withTrailer, CryptoResult::kCannotDecode, false},
      {"content changed", altered, CryptoResult::kSignatureMismatch, true},
      {"signature changed", Altered(good, [](PKCS7* m) {sk_PKCS7_SIGNER_INFO_value(m->d.sign->signer_info, 0)->enc_digest->data[5] ^= 1;}), CryptoResult::kSignatureMismatch, true},
      {"digest algorithm changed", Altered(good, [](PKCS7* m) {X509_ALGOR_set0(sk_PKCS7_SIGNER_INFO_value(m->d.sign->signer_info, 0)->digest_alg, OBJ_nid2obj(NID_sha1), V_ASN1_UNDEF, nullptr);}), CryptoResult::kSignatureMismatch, true},
      {"signer's certificate missing", withCertificate(stranger.get()), CryptoResult::kNoSignerCertificate, false},
      {"signer's certificate without a name", withCertificate(nameless.get()), CryptoResult::kNoSignerCertificate, false},
      {"no signer information", Altered(good, [](PKCS7* m) {PKCS7_SIGNER_INFO_free(sk_PKCS7_SIGNER_INFO_pop(m->d.sign->signer_info));}), CryptoResult::kCannotReadSigner, false},
      {"no content", Altered(good, [](PKCS7* m) {ASN1_OCTET_STRING_free(m->d.sign->contents->d.data); m->d.sign->contents->d.data = nullptr;}), CryptoResult::kCannotDecode, false},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> content = {9};
    EXPECT_EQ(c.code, Verify(c.message, content));
    if (c.givesContent) {
      std::vector<std::uint8_t> expected = kManifest;
      if (c.message == altered) expected[10] ^= 1;
      EXPECT_EQ(expected, content);
    } else {
      EXPECT_TRUE(content.empty());
    }
  }
  for (std::size_t size = 1; size < good.size(); ++size) {
    SCOPED_TRACE(size);
    std::vector<std::uint8_t> content;
    EXPECT_EQ(CryptoResult::kCannotDecode, Verify(std::span(good.data(), size), content));
    EXPECT_TRUE(content.empty());
  }
  // Beyond 32-bit lengths only the length is looked at; the bytes are never read.
  const std::span<const std::uint8_t> huge(good.data(), std::size_t{1} << 32);
  std::vector<std::uint8_t> out;
  EXPECT_EQ(CryptoResult::kCannotSign, testing::SignFromStore(L"Release Signer", huge, out, L""));
  EXPECT_EQ(CryptoResult::kCannotDecode, Verify(huge, out));
  EXPECT_EQ(0u, ERR_peek_error());
}

}  // namespace
}  // namespace brevick
