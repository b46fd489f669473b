// pki/trust.cc
#include "pki/trust.h"

#include <openssl/pem.h>
#include <openssl/x509_vfy.h>

#include <array>
#include <limits>

#include "base/file_io.h"

namespace brevick {
namespace {

constexpr std::array<const char*, static_cast<std::size_t>(CertificateFileResult::kCount)>
    kCertificateFileTexts = {"", "cannot be read", "holds no certificate", "does not decode"};
static_assert(kCertificateFileTexts.size() ==
              static_cast<std::size_t>(CertificateFileResult::kCount));

constexpr std::array<const char*, static_cast<std::size_t>(SigningUsage::kCount)> kUsageTexts = {
    "", "its key usage does not allow digital signatures",
    "its extended key usage does not allow code signing"};
static_assert(kUsageTexts.size() == static_cast<std::size_t>(SigningUsage::kCount));

struct X509StoreFree {
  void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct X509StoreCtxFree {
  void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
using X509StorePtr = std::unique_ptr<X509_STORE, X509StoreFree>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, X509StoreCtxFree>;

bool LooksLikePem(const std::vector<std::uint8_t>& bytes) {
  static constexpr std::string_view kMarker = "-----BEGIN";
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return text.find(kMarker) != std::string_view::npos;
}

CertificateFileResult ReadPem(const std::vector<std::uint8_t>& bytes,
                              std::vector<X509Ptr>& certificates) {
  const BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  if (!bio) return CertificateFileResult::kCannotDecode;
  ERR_clear_error();
  while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    certificates.emplace_back(certificate);
  }
  // The loop ends at the input's end ("no start line") or at a block that
  // does not decode; only the first is a clean end.
  const unsigned long last = ERR_peek_last_error();
  const bool cleanEnd =
      ERR_GET_LIB(last) == ERR_LIB_PEM && ERR_GET_REASON(last) == PEM_R_NO_START_LINE;
  if (!cleanEnd) {
    certificates.clear();
    return CertificateFileResult::kCannotDecode;
  }
  return certificates.empty() ? CertificateFileResult::kEmpty : CertificateFileResult::kOk;
}

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

const char* CertificateFileResultText(CertificateFileResult result) {
  return kCertificateFileTexts.at(static_cast<std::size_t>(result));
}

const char* SigningUsageText(SigningUsage usage) {
  return kUsageTexts.at(static_cast<std::size_t>(usage));
}

CertificateFileResult ReadCertificateFile(const std::string& path,
                                          std::vector<X509Ptr>& certificates, int& error,
                                          std::uint64_t maxSizeInBytes) {
  const OpenSslErrorScope errors;
  certificates.clear();
  error = 0;
  std::vector<std::uint8_t> bytes;
  const FileResult read = ReadRegularFile(AT_FDCWD, path, bytes, maxSizeInBytes);
  if (!read.Ok()) {
    error = read.error;
    return CertificateFileResult::kCannotRead;
  }
  if (bytes.empty()) return CertificateFileResult::kEmpty;
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    return CertificateFileResult::kCannotDecode;
  if (LooksLikePem(bytes)) return ReadPem(bytes, certificates);
  const unsigned char* next = bytes.data();
  X509Ptr certificate(d2i_X509(nullptr, &next, static_cast<long>(bytes.size())));
  if (!certificate || next != bytes.data() + bytes.size())
    return CertificateFileResult::kCannotDecode;
  certificates.push_back(std::move(certificate));
  return CertificateFileResult::kOk;
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
  // The flags are computed (and cached) by this first call.
  const std::uint32_t flags = X509_get_extension_flags(certificate);
  if ((flags & EXFLAG_KUSAGE) != 0 &&
      (X509_get_key_usage(certificate) & KU_DIGITAL_SIGNATURE) == 0) {
    return SigningUsage::kNoDigitalSignature;
  }
  if (requireCodeSigning && (flags & EXFLAG_XKUSAGE) != 0 &&
      (X509_get_extended_key_usage(certificate) & (XKU_CODE_SIGN | XKU_ANYEKU)) == 0) {
    return SigningUsage::kNoCodeSigning;
  }
  return SigningUsage::kAllowed;
}

std::string ValidityProblem(const X509* certificate, std::optional<std::time_t> at) {
  std::time_t when = at.value_or(0);
  std::time_t* moment = at ? &when : nullptr;  // OpenSSL reads null as now
  if (X509_cmp_time(X509_get0_notBefore(certificate), moment) >= 0)
    return X509_verify_cert_error_string(X509_V_ERR_CERT_NOT_YET_VALID);
  if (X509_cmp_time(X509_get0_notAfter(certificate), moment) <= 0)
    return X509_verify_cert_error_string(X509_V_ERR_CERT_HAS_EXPIRED);
  return {};
}

}  // namespace brevick
