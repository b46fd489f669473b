// pki/trust.cc: chain verification over an X509_STORE that holds exactly the
// anchors given.
#include "pki/trust.h"

#include <openssl/x509_vfy.h>

#include <array>

#include "pki/certificate_info.h"

namespace brevick {
namespace {

constexpr std::array<const char*, static_cast<std::size_t>(SigningUsage::kCount)> kUsageTexts = {
    "", "its key usage does not allow digital signatures",
    "its extended key usage does not allow code signing"};
static_assert(kUsageTexts.size() == static_cast<std::size_t>(SigningUsage::kCount));

// A partial chain may run on past the anchor that ended the trust decision
// (through an intermediate the message carries), so its top is not always
// the anchor: the first chain member, from the leaf up, that was given is.
X509Ptr MatchedAnchor(STACK_OF(X509) * chain, std::span<X509* const> anchors) {
  for (int i = 0; i < sk_X509_num(chain); ++i) {
    X509* member = sk_X509_value(chain, i);
    for (X509* anchor : anchors) {
      if (X509_cmp(member, anchor) == 0 && X509_up_ref(member) == 1) return X509Ptr(member);
    }
  }
  return nullptr;
}

}  // namespace

const char* SigningUsageText(SigningUsage usage) {
  return kUsageTexts.at(static_cast<std::size_t>(usage));
}

ChainVerdict VerifyCertificateChain(X509* leaf, std::span<X509* const> intermediates,
                                    std::span<X509* const> anchors, std::optional<std::time_t> at) {
  const OpenSslErrorScope errors;
  ChainVerdict verdict;
  const X509StorePtr store(X509_STORE_new());
  const X509StoreCtxPtr context(X509_STORE_CTX_new());
  const X509StackPtr untrusted(sk_X509_new_null());
  if (!store || !context || !untrusted) {
    verdict.reason = "out of memory";
    return verdict;
  }
  for (X509* anchor : anchors) {
    if (X509_STORE_add_cert(store.get(), anchor) != 1) {
      verdict.reason = "an anchor could not be added";
      return verdict;
    }
  }
  for (X509* intermediate : intermediates) {
    if (X509_up_ref(intermediate) != 1 || sk_X509_push(untrusted.get(), intermediate) <= 0) {
      verdict.reason = "out of memory";
      return verdict;
    }
  }
  // A given anchor ends the chain even when it is not a self-signed root:
  // the recipient names exactly what they trust.
  X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
  if (X509_STORE_CTX_init(context.get(), store.get(), leaf, untrusted.get()) != 1) {
    verdict.reason = "chain verification could not start";
    return verdict;
  }
  if (at) X509_STORE_CTX_set_time(context.get(), 0, *at);
  const int result = X509_verify_cert(context.get());
  if (result == 1) {
    verdict.trusted = true;
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context.get());
    for (int i = 0; i < sk_X509_num(chain); ++i) {
      X509* certificate = sk_X509_value(chain, i);
      if (X509_up_ref(certificate) == 1) verdict.chain.emplace_back(certificate);
    }
    verdict.anchor = MatchedAnchor(chain, anchors);
    return verdict;
  }
  const int code = X509_STORE_CTX_get_error(context.get());
  verdict.reason = X509_verify_cert_error_string(code);
  return verdict;
}

SigningUsage CheckSigningUsage(X509* certificate, bool requireCodeSigning) {
  const OpenSslErrorScope errors;
  if (!KeyUsageAllowsSigning(certificate)) return SigningUsage::kNoDigitalSignature;
  if (requireCodeSigning && !ExtendedKeyUsageAllowsCodeSigning(certificate))
    return SigningUsage::kNoCodeSigning;
  return SigningUsage::kAllowed;
}

std::string ValidityProblem(const X509* certificate, std::optional<std::time_t> at) {
  switch (ValidityAt(certificate, at.value_or(std::time(nullptr)))) {
    case Validity::kNotYetValid:
      return X509_verify_cert_error_string(X509_V_ERR_CERT_NOT_YET_VALID);
    case Validity::kExpired:
      return X509_verify_cert_error_string(X509_V_ERR_CERT_HAS_EXPIRED);
    case Validity::kCurrent:
      break;
  }
  return {};
}

}  // namespace brevick
