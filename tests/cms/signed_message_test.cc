// tests/cms/signed_message_test.cc: the DigestInfo each digest signs, and
// what the check of a signed message says of each way it can be wrong.
#include "cms/signed_message.h"

#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "cms/message_check.h"
#include "tests/support/bytes.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using testing::MakeCertificate;

const std::vector<std::uint8_t> kManifest = testing::Bytes(
    "<?xml version=\"1.0\"?>\n<dravanePackage>\n    <package/>\n</dravanePackage>\n");
const testing::SubjectEntries kSignerSubject = {{"O", "Brevick Test"}, {"CN", "Release Signer"}};

TEST(SignedMessageTest, EachDigestSignsItsDigestInfoAndIsNamedInTheMessage) {
  const X509Ptr cert = MakeCertificate(testing::TestRsaKey(0), kSignerSubject, {.serial = 77});
  // The DER DigestInfo of "abc" (the digests are the standards' own examples).
  // clang-format off
  const std::pair<DigestAlgorithm, const char*> cases[] = {
      {DigestAlgorithm::kMd2,    "3020300c06082a864886f70d020205000410" "da853b0d3f88d99b30283a69e6ded6bb"},
      {DigestAlgorithm::kSha256, "3031300d060960864801650304020105000420" "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {DigestAlgorithm::kSha384, "3041300d060960864801650304020205000430" "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
      {DigestAlgorithm::kSha512, "3051300d060960864801650304020305000440" "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
  };
  // clang-format on
  for (const auto& [digest, hex] : cases) {
    SCOPED_TRACE(std::string(DigestName(digest)));
    long size = 0;
    const OpenSslBytesPtr expected(OPENSSL_hexstr2buf(hex, &size));
    EXPECT_EQ(std::vector<std::uint8_t>(expected.get(), expected.get() + size),
              DigestInfo(digest, testing::BytesOf("abc")));
    const std::vector<std::uint8_t> message =
        testing::SignedMessage(cert.get(), testing::TestRsaKey(0), kManifest, digest);
    std::vector<std::uint8_t> content;
    EXPECT_EQ(CryptoResult::kOk, VerifySignedMessage(message, content));
    EXPECT_EQ(kManifest, content);
    EXPECT_EQ(DigestName(digest), CheckSignedMessage(message).signers.at(0).digest);
  }
}

// Decodes the message with OpenSSL, lets `change` edit it, encodes it again.
std::vector<std::uint8_t> Altered(const std::vector<std::uint8_t>& message,
                                  const std::function<void(PKCS7*)>& change) {
  const unsigned char* next = message.data();
  const Pkcs7Ptr decoded(d2i_PKCS7(nullptr, &next, static_cast<long>(message.size())));
  change(decoded.get());
  unsigned char* der = nullptr;
  const int size = i2d_PKCS7(decoded.get(), &der);
  const OpenSslBytesPtr owned(der);
  return size > 0 ? std::vector<std::uint8_t>(der, der + size) : std::vector<std::uint8_t>{};
}

PKCS7_SIGNER_INFO* Signer(PKCS7* m) {
  return sk_PKCS7_SIGNER_INFO_value(m->d.sign->signer_info, 0);
}

TEST(SignedMessageTest, VerifyTellsWhatIsWrongWithTheMessage) {
  EVP_PKEY* key = testing::TestRsaKey(0);
  const X509Ptr cert = MakeCertificate(key, kSignerSubject, {.serial = 77});
  // Another of the signer's issuer, sorted before it in the carried set.
  const X509Ptr sibling = MakeCertificate(testing::TestRsaKey(1), kSignerSubject, {.serial = 76});
  const X509Ptr nameless = MakeCertificate(key, {{"C", "DE"}}, {.serial = 77});
  const std::vector<std::uint8_t> good = testing::SignedMessage(cert.get(), key, kManifest);
  std::vector<std::uint8_t> withTrailer = good;
  withTrailer.push_back(0);
  auto carrying = [&](std::initializer_list<X509*> certificates) {
    return Altered(good, [&](PKCS7* m) {
      sk_X509_pop_free(m->d.sign->cert, X509_free);
      m->d.sign->cert = nullptr;
      for (X509* certificate : certificates) PKCS7_add_certificate(m, certificate);
    });
  };
  std::vector<std::uint8_t> changed = kManifest;
  changed[10] ^= 1;
  // `code`: what both checks say, the one that digests the content and the
  // one given the content and the DigestInfo that were signed.
  // clang-format off
  const struct { const char* what; std::vector<std::uint8_t> message; CryptoResult code; std::vector<std::uint8_t> content; } cases[] = {
      {"as signed", good, CryptoResult::kOk, kManifest},
      {"the signer after another of its issuer", carrying({sibling.get(), cert.get()}), CryptoResult::kOk, kManifest},
      {"plain XML", kManifest, CryptoResult::kNotSignedMessage, {}},
      {"empty", {}, CryptoResult::kNotSignedMessage, {}},
      {"a byte after the message", withTrailer, CryptoResult::kCannotDecode, {}},
      {"content changed", Altered(good, [](PKCS7* m) { m->d.sign->contents->d.data->data[10] ^= 1; }), CryptoResult::kSignatureMismatch, changed},
      {"signature changed", Altered(good, [](PKCS7* m) { Signer(m)->enc_digest->data[5] ^= 1; }), CryptoResult::kSignatureMismatch, kManifest},
      {"SHA-1 named, not the digest signed", Altered(good, [](PKCS7* m) { X509_ALGOR_set0(Signer(m)->digest_alg, OBJ_nid2obj(NID_sha1), V_ASN1_UNDEF, nullptr); }), CryptoResult::kSignatureMismatch, kManifest},
      {"SHA-384 named, not the digest signed", Altered(good, [](PKCS7* m) { X509_ALGOR_set0(Signer(m)->digest_alg, OBJ_nid2obj(NID_sha384), V_ASN1_UNDEF, nullptr); }), CryptoResult::kSignatureMismatch, kManifest},
      {"signer's certificate missing", carrying({sibling.get()}), CryptoResult::kNoSignerCertificate, {}},
      {"signer's certificate without a name", carrying({nameless.get()}), CryptoResult::kNoSignerCertificate, {}},
      {"no signer information", Altered(good, [](PKCS7* m) { PKCS7_SIGNER_INFO_free(sk_PKCS7_SIGNER_INFO_pop(m->d.sign->signer_info)); }), CryptoResult::kCannotReadSigner, {}},
      {"no content", Altered(good, [](PKCS7* m) { ASN1_OCTET_STRING_free(m->d.sign->contents->d.data); m->d.sign->contents->d.data = nullptr; }), CryptoResult::kCannotDecode, {}},
  };
  // clang-format on
  const std::vector<std::uint8_t> signedDigestInfo = DigestInfo(DigestAlgorithm::kMd2, kManifest);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> content = {9};
    EXPECT_EQ(c.code, VerifySignedMessage(c.message, content));
    EXPECT_EQ(c.content, content);
    bool contentMatches = false;
    EXPECT_EQ(c.code,
              VerifySignedMessageOf(c.message, kManifest, signedDigestInfo, contentMatches));
  }
  for (std::size_t size = 1; size < good.size(); ++size) {
    std::vector<std::uint8_t> content;
    EXPECT_EQ(CryptoResult::kCannotDecode,
              VerifySignedMessage(std::span(good.data(), size), content))
        << size;
  }
  // Beyond 32-bit lengths only the length is looked at; the bytes are never read.
  std::vector<std::uint8_t> out;
  EXPECT_EQ(CryptoResult::kCannotDecode,
            VerifySignedMessage(std::span(good.data(), std::size_t{1} << 32), out));
}

}  // namespace
}  // namespace brevick
