// RFC 3161 requests and responses through OpenSSL's TS types. The answer's
// status and failure bits are spelt out with RFC 3161's own names, which is
// what a TSA's documentation and logs use. Tested by
// tests/cms/timestamp_token_test.cc against `openssl ts -reply`.
#include "cms/timestamp_request.h"

#include <openssl/rand.h>
#include <openssl/ts.h>

#include <array>
#include <climits>
#include <memory>

#include "cms/der.h"
#include "digest/sha2.h"
#include "pki/openssl_handles.h"

namespace brevick {
namespace {

struct TsReqFree {
  void operator()(TS_REQ* request) const { TS_REQ_free(request); }
};
struct TsRespFree {
  void operator()(TS_RESP* response) const { TS_RESP_free(response); }
};
struct TsMsgImprintFree {
  void operator()(TS_MSG_IMPRINT* imprint) const { TS_MSG_IMPRINT_free(imprint); }
};
struct Asn1IntegerFree {
  void operator()(ASN1_INTEGER* integer) const { ASN1_INTEGER_free(integer); }
};
using TsReqPtr = std::unique_ptr<TS_REQ, TsReqFree>;
using TsRespPtr = std::unique_ptr<TS_RESP, TsRespFree>;
using TsMsgImprintPtr = std::unique_ptr<TS_MSG_IMPRINT, TsMsgImprintFree>;
using Asn1IntegerPtr = std::unique_ptr<ASN1_INTEGER, Asn1IntegerFree>;

constexpr long kRequestVersion = 1;

// PKIStatus values, by number.
constexpr std::array<const char*, 6> kStatusNames = {"granted",           "grantedWithMods",
                                                     "rejection",         "waiting",
                                                     "revocationWarning", "revocationNotification"};

// PKIFailureInfo bits, by bit number; the gaps are unassigned.
struct FailureBit {
  int bit;
  const char* name;
};
constexpr FailureBit kFailureBits[] = {
    {TS_INFO_BAD_ALG, "badAlg"},
    {TS_INFO_BAD_REQUEST, "badRequest"},
    {TS_INFO_BAD_DATA_FORMAT, "badDataFormat"},
    {TS_INFO_TIME_NOT_AVAILABLE, "timeNotAvailable"},
    {TS_INFO_UNACCEPTED_POLICY, "unacceptedPolicy"},
    {TS_INFO_UNACCEPTED_EXTENSION, "unacceptedExtension"},
    {TS_INFO_ADD_INFO_NOT_AVAILABLE, "addInfoNotAvailable"},
    {TS_INFO_SYSTEM_FAILURE, "systemFailure"},
};

std::string StatusName(long status) {
  if (status >= 0 && status < static_cast<long>(kStatusNames.size()))
    return kStatusNames[static_cast<std::size_t>(status)];
  return "status " + std::to_string(status);
}

std::string FailureNames(const ASN1_BIT_STRING* bits) {
  std::string names;
  for (const FailureBit& failure : kFailureBits) {
    if (bits == nullptr || ASN1_BIT_STRING_get_bit(bits, failure.bit) != 1) continue;
    names += (names.empty() ? "" : ", ") + std::string(failure.name);
  }
  return names;
}

// The TSA's free text, its UTF8Strings joined with "; ".
std::string StatusText(const STACK_OF(ASN1_UTF8STRING) * texts) {
  std::string joined;
  for (int i = 0; i < sk_ASN1_UTF8STRING_num(texts); ++i) {
    const ASN1_UTF8STRING* text = sk_ASN1_UTF8STRING_value(texts, i);
    const auto* bytes = reinterpret_cast<const char*>(ASN1_STRING_get0_data(text));
    joined += (joined.empty() ? "" : "; ") +
              std::string(bytes, static_cast<std::size_t>(ASN1_STRING_length(text)));
  }
  return joined;
}

std::string Rejection(const TS_STATUS_INFO* info, long status) {
  std::string words = "rejected by the TSA (" + StatusName(status);
  const std::string failures = FailureNames(TS_STATUS_INFO_get0_failure_info(info));
  if (!failures.empty()) words += ", failInfo " + failures;
  const std::string text = StatusText(TS_STATUS_INFO_get0_text(info));
  if (!text.empty()) words += ": " + text;
  return words + ")";
}

// The token exactly as the TSA sent it, taken from the response's bytes
// rather than re-encoded: TimeStampResp ::= SEQUENCE {status, token}.
std::vector<std::uint8_t> TokenBytes(std::span<const std::uint8_t> response) {
  const std::optional<DerHeader> outer = ReadDerHeader(response);
  if (!outer || outer->tag != kDerSequenceTag) return {};
  const std::span<const std::uint8_t> fields = response.subspan(outer->headerSize);
  const std::optional<DerHeader> status = ReadDerHeader(fields);
  if (!status || status->contentSize >= fields.size() - status->headerSize) return {};
  const std::span<const std::uint8_t> rest =
      fields.subspan(status->headerSize + static_cast<std::size_t>(status->contentSize));
  const std::optional<DerHeader> token = ReadDerHeader(rest);
  if (!token || token->tag != kDerSequenceTag ||
      token->contentSize != rest.size() - token->headerSize) {
    return {};
  }
  return {rest.begin(), rest.end()};
}

}  // namespace

std::optional<TimestampRequest> MakeTimestampRequest(std::span<const std::uint8_t> signatureValue,
                                                     DigestAlgorithm digest) {
  const OpenSslErrorScope errors;
  // Time-stamp authorities take SHA-2 only.
  if (digest == DigestAlgorithm::kMd2) return std::nullopt;
  const int nid = DigestNid(digest);
  TimestampRequest request;
  request.digest = digest;
  std::array<unsigned char, sizeof(std::uint64_t)> nonceBytes{};
  if (RAND_bytes(nonceBytes.data(), static_cast<int>(nonceBytes.size())) != 1) return std::nullopt;
  for (const unsigned char byte : nonceBytes) request.nonce = request.nonce << 8 | byte;

  Sha2 sha(digest);
  sha.Update(signatureValue.data(), signatureValue.size());
  std::vector<std::uint8_t> imprintBytes = sha.Final();
  const TsReqPtr tsRequest(TS_REQ_new());
  const TsMsgImprintPtr imprint(TS_MSG_IMPRINT_new());
  const X509AlgorPtr algorithm(X509_ALGOR_new());
  const Asn1IntegerPtr nonce(ASN1_INTEGER_new());
  if (imprintBytes.empty() || !tsRequest || !imprint || !algorithm || !nonce ||
      X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(nid), V_ASN1_NULL, nullptr) != 1 ||
      TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) != 1 ||
      TS_MSG_IMPRINT_set_msg(imprint.get(), imprintBytes.data(),
                             static_cast<int>(imprintBytes.size())) != 1 ||
      TS_REQ_set_version(tsRequest.get(), kRequestVersion) != 1 ||
      TS_REQ_set_msg_imprint(tsRequest.get(), imprint.get()) != 1 ||
      ASN1_INTEGER_set_uint64(nonce.get(), request.nonce) != 1 ||
      TS_REQ_set_nonce(tsRequest.get(), nonce.get()) != 1 ||
      TS_REQ_set_cert_req(tsRequest.get(), 1) != 1) {
    return std::nullopt;
  }
  unsigned char* der = nullptr;
  const int size = i2d_TS_REQ(tsRequest.get(), &der);
  if (size <= 0) return std::nullopt;
  const OpenSslBytesPtr owned(der);
  request.der.assign(der, der + size);
  return request;
}

TimestampReply ReadTimestampReply(std::span<const std::uint8_t> response) {
  const OpenSslErrorScope errors;
  TimestampReply reply;
  if (response.empty() || response.size() > static_cast<std::size_t>(LONG_MAX)) {
    reply.failure = "not a time-stamp response";
    return reply;
  }
  const unsigned char* next = response.data();
  const TsRespPtr decoded(d2i_TS_RESP(nullptr, &next, static_cast<long>(response.size())));
  if (!decoded || next != response.data() + response.size()) {
    reply.failure = "not a time-stamp response";
    return reply;
  }
  reply.isResponse = true;
  const TS_STATUS_INFO* info = TS_RESP_get_status_info(decoded.get());
  const long status = ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(info));
  if (status != TS_STATUS_GRANTED && status != TS_STATUS_GRANTED_WITH_MODS) {
    reply.failure = Rejection(info, status);
    return reply;
  }
  reply.token = TokenBytes(response);
  PKCS7* token = TS_RESP_get_token(decoded.get());
  if (reply.token.empty() && token != nullptr) {
    // A BER response (indefinite lengths) has no bytes to cut out as they
    // are: its token is taken in DER, which verifies the same.
    unsigned char* der = nullptr;
    const int size = i2d_PKCS7(token, &der);
    const OpenSslBytesPtr owned(der);
    if (size > 0) reply.token.assign(der, der + size);
  }
  if (reply.token.empty()) reply.failure = "the TSA granted the request but sent no token";
  return reply;
}

}  // namespace brevick
