// tests/cms/timestamp_token_test.cc: requests, answers and tokens against the
// local TSA (real `openssl ts -reply` tokens), and the token spliced into a
// real signed message.
#include "cms/timestamp_token.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "base/http_client.h"
#include "cms/signed_message.h"
#include "cms/timestamp_request.h"
#include "pki/cert_store.h"
#include "tests/support/signing_certs.h"
#include "tests/support/tsa_server.h"

namespace brevick {
namespace {

const std::vector<std::uint8_t> kSignature(256, 0x5A);

// What the TSA behind `path` answers for a request over `signature`.
struct Answer {
  TimestampRequest request;
  TimestampReply reply;
  TimestampExpectation Asked() const { return {request.digest, request.nonce}; }
};

Answer Ask(const std::string& path, std::span<const std::uint8_t> signature,
           DigestAlgorithm digest = DigestAlgorithm::kSha256) {
  Answer answer{MakeTimestampRequest(signature, digest).value(), {}};
  const HttpResponse response = HttpPost(testing::TsaServer::Shared().Url(path), answer.request.der,
                                         "application/timestamp-query");
  EXPECT_TRUE(response.Ok()) << response.failure;
  answer.reply = ReadTimestampReply(response.body);
  return answer;
}

TEST(TimestampTokenTest, ChecksWhatTheTsaAnswers) {
  EXPECT_FALSE(MakeTimestampRequest(kSignature, DigestAlgorithm::kMd2));
  // `failure`: of the reply; empty when a token came.
  // clang-format off
  const struct { const char* path; DigestAlgorithm digest; std::string failure; TimestampFault fault; } cases[] = {
      {"tsa",    DigestAlgorithm::kSha256, "", TimestampFault::kNone},
      {"tsa",    DigestAlgorithm::kSha384, "", TimestampFault::kNone},
      {"tsa",    DigestAlgorithm::kSha512, "", TimestampFault::kNone},
      {"replay", DigestAlgorithm::kSha256, "", TimestampFault::kNonceMismatch},
      {"noeku",  DigestAlgorithm::kSha256, "", TimestampFault::kNoTimeStamping},
      {"codesign", DigestAlgorithm::kSha256, "", TimestampFault::kNoTimeStamping},
      {"reject", DigestAlgorithm::kSha256, "rejected by the TSA (rejection, failInfo unacceptedPolicy: policy not accepted)", TimestampFault::kMalformed},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + std::string(DigestName(c.digest)));
    const Answer answer = Ask(c.path, kSignature, c.digest);
    EXPECT_EQ(c.failure, answer.reply.failure);
    if (!c.failure.empty()) continue;
    const TimestampToken token =
        CheckTimestampToken(answer.reply.token, kSignature, answer.Asked());
    EXPECT_EQ(c.fault, token.fault) << token.reason;
    if (c.fault != TimestampFault::kNone) continue;
    EXPECT_EQ("", token.reason);
    EXPECT_LT(std::labs(static_cast<long>(token.time - std::time(nullptr))), 300L);
    EXPECT_EQ(DigestName(c.digest), token.digest);
    EXPECT_EQ("1.3.6.1.4.1.99999.1", token.policy);
    EXPECT_FALSE(token.serial.empty());
    ASSERT_TRUE(token.tsaCertificate);
    EXPECT_EQ(L"Brevick Test TSA", SubjectText(token.tsaCertificate.get()));
  }
}

TEST(TimestampTokenTest, RefusesATokenThatDoesNotStandForThisSignature) {
  const Answer answer = Ask("tsa", kSignature);
  const std::vector<std::uint8_t>& good = answer.reply.token;
  ASSERT_FALSE(good.empty()) << answer.reply.failure;
  std::vector<std::uint8_t> badSignature = good;
  badSignature.back() ^= 0x01;  // the token's SignerInfo ends with its signature
  const TimestampExpectation asked = answer.Asked();
  // clang-format off
  const struct { const char* name; std::vector<std::uint8_t> token, signature; TimestampExpectation expected; TimestampFault fault; } cases[] = {
      {"another signature", good,         std::vector<std::uint8_t>(256, 0xA5), asked, TimestampFault::kImprintMismatch},
      {"another digest",    good,         kSignature, {DigestAlgorithm::kSha512, asked.nonce}, TimestampFault::kDigestMismatch},
      {"another nonce",     good,         kSignature, {asked.digest, *asked.nonce + 1}, TimestampFault::kNonceMismatch},
      {"nothing asked",     good,         kSignature, {},    TimestampFault::kNone},
      {"signature altered", badSignature, kSignature, asked, TimestampFault::kSignatureInvalid},
      {"cut short",         {good.begin(), good.end() - 1}, kSignature, asked, TimestampFault::kMalformed},
      {"not a token",       answer.request.der, kSignature, asked, TimestampFault::kMalformed},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TimestampToken token = CheckTimestampToken(c.token, c.signature, c.expected);
    EXPECT_EQ(c.fault, token.fault) << token.reason;
    EXPECT_EQ(c.fault == TimestampFault::kNone, token.reason.empty()) << token.reason;
  }
}

TEST(TimestampTokenTest, AddsTheTokenAndNothingElse) {
  const X509Ptr certificate = testing::FixedSignerCertificate();
  const EvpPkeyPtr key = testing::FixedSignerKey();
  const std::vector<std::uint8_t> content = {'<', 'a', '/', '>'};
  for (const DigestAlgorithm digest : {DigestAlgorithm::kMd2, DigestAlgorithm::kSha512}) {
    SCOPED_TRACE(std::string(DigestName(digest)));
    const std::vector<std::uint8_t> message =
        testing::SignedMessage(certificate.get(), key.get(), content, digest);
    const SignerTimestamps before = ReadSignerTimestamps(message).value();
    EXPECT_TRUE(before.tokens.empty());
    const std::vector<std::uint8_t> token = Ask("tsa", before.signatureValue).reply.token;

    const std::vector<std::uint8_t> stamped = WithTimestampToken(message, token).value();
    const SignerTimestamps after = ReadSignerTimestamps(stamped).value();
    EXPECT_EQ(before.signatureValue, after.signatureValue);
    EXPECT_EQ(std::vector<std::vector<std::uint8_t>>{token}, after.tokens);
    std::vector<std::uint8_t> carried;
    EXPECT_EQ(CryptoResult::kOk, VerifySignedMessage(stamped, carried));
    EXPECT_EQ(content, carried);
    // Taking the attribute out again gives the message as it was signed.
    const unsigned char* next = stamped.data();
    const Pkcs7Ptr decoded(d2i_PKCS7(nullptr, &next, static_cast<long>(stamped.size())));
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(decoded.get()), 0);
    sk_X509_ATTRIBUTE_pop_free(std::exchange(signer->unauth_attr, nullptr), X509_ATTRIBUTE_free);
    unsigned char* der = nullptr;
    const int size = i2d_PKCS7(decoded.get(), &der);
    const OpenSslBytesPtr owned(der);
    EXPECT_EQ(message, std::vector<std::uint8_t>(der, der + std::max(size, 0)));

    EXPECT_FALSE(WithTimestampToken(stamped, token)) << "a second token";
    EXPECT_FALSE(WithTimestampToken(content, token)) << "not a message";
    EXPECT_FALSE(WithTimestampToken(message, content)) << "not one DER element";
  }
}

}  // namespace
}  // namespace brevick
