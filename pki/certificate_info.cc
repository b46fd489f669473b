// pki/certificate_info.cc: certificate and key inspection.
#include "pki/certificate_info.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/objects.h>

#include <algorithm>
#include <array>

#include "base/file_io.h"
#include "base/hex_text.h"
#include "base/utf8.h"

namespace brevick {
namespace {

constexpr std::size_t kSha1Size = 20;
constexpr std::size_t kSha256Size = 32;

struct WarningText {
  const wchar_t* before;  // text before the certificate's name
  const wchar_t* after;   // text after it, then the detail
};

constexpr std::array<WarningText, 5> kWarningTexts = {{
    {L"certificate '", L"' is not valid before "},
    {L"certificate '", L"' expired on "},
    {L"certificate '", L"' has a key usage without digitalSignature"},
    {L"certificate '", L"' has an extended key usage without codeSigning"},
    {L"certificate '", L"' has an RSA key of "},
}};
static_assert(kWarningTexts.size() == static_cast<std::size_t>(CertificateWarning::kCount),
              "one text per certificate warning");

constexpr std::array<const wchar_t*, 8> kKeyProblemTexts = {
    L"",
    L"no private key",
    L"the private key is encrypted",
    L"the private key is not an RSA key",
    L"the private key does not match the certificate",
    L"the key file cannot be read",
    L"the key file holds no readable private key",
    L"the key file holds a PKCS #11 URI that cannot be read",
};
static_assert(kKeyProblemTexts.size() == static_cast<std::size_t>(KeyProblem::kCount),
              "one text per key problem");

}  // namespace

std::vector<std::uint8_t> Thumbprint(const X509* certificate, ThumbprintKind kind) {
  unsigned char* der = nullptr;
  const int size = i2d_X509(certificate, &der);
  if (size <= 0) return {};
  const OpenSslBytesPtr owned(der);
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int digestSize = 0;
  const EVP_MD* md = kind == ThumbprintKind::kSha1 ? EVP_sha1() : EVP_sha256();
  if (EVP_Digest(der, static_cast<std::size_t>(size), digest.data(), &digestSize, md, nullptr) !=
      1) {
    return {};
  }
  digest.resize(digestSize);
  return digest;
}

std::wstring ThumbprintText(std::span<const std::uint8_t> bytes) {
  return ToWide(HexText(bytes, HexCase::kUpper));
}

std::optional<std::vector<std::uint8_t>> ParseThumbprint(std::wstring_view text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (const wchar_t c : text) {
    if (c == L':' || c == L' ' || c == L'\t') continue;
    const int value = HexDigitValue(c);
    if (value < 0) return std::nullopt;
    if (high < 0) {
      high = value;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | value));
      high = -1;
    }
  }
  if (high >= 0 || (bytes.size() != kSha1Size && bytes.size() != kSha256Size)) return std::nullopt;
  return bytes;
}

bool HasThumbprint(const X509* certificate, std::span<const std::uint8_t> wanted) {
  if (wanted.size() != kSha1Size && wanted.size() != kSha256Size) return false;
  const std::vector<std::uint8_t> actual = Thumbprint(
      certificate, wanted.size() == kSha1Size ? ThumbprintKind::kSha1 : ThumbprintKind::kSha256);
  return std::equal(actual.begin(), actual.end(), wanted.begin(), wanted.end());
}

Validity ValidityAt(const X509* certificate, std::time_t now) {
  // X509_cmp_time: -1 when the field lies before `now`, 1 after, 0 unreadable.
  if (X509_cmp_time(X509_get0_notBefore(certificate), &now) >= 0) return Validity::kNotYetValid;
  if (X509_cmp_time(X509_get0_notAfter(certificate), &now) <= 0) return Validity::kExpired;
  return Validity::kCurrent;
}

std::wstring TimeText(const ASN1_TIME* time) {
  std::tm parts{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return L"(unreadable)";
  char text[32];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
    return L"(unreadable)";
  return ToWide(text);
}

std::wstring SerialText(const X509* certificate) {
  BIGNUM* number = ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr);
  if (number == nullptr) return L"(unreadable)";
  char* hex = BN_bn2hex(number);
  BN_free(number);
  if (hex == nullptr) return L"(unreadable)";
  std::wstring text = ToWide(hex);
  OPENSSL_free(hex);
  return text;
}

std::wstring NameValuesText(const X509_NAME* name) {
  std::wstring text;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    unsigned char* utf8 = nullptr;
    const int length =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i)));
    if (i > 0) text += L", ";
    if (length < 0) continue;
    const OpenSslBytesPtr owned(utf8);
    text += ToWide(
        std::string_view(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length)));
  }
  return text;
}

std::wstring IssuerText(const X509* certificate) {
  return NameValuesText(X509_get_issuer_name(certificate));
}

bool KeyUsageAllowsSigning(X509* certificate) {
  if ((X509_get_extension_flags(certificate) & EXFLAG_KUSAGE) == 0) return true;
  return (X509_get_key_usage(certificate) & KU_DIGITAL_SIGNATURE) != 0;
}

bool ExtendedKeyUsageAllowsCodeSigning(X509* certificate) {
  if ((X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) == 0) return true;
  return (X509_get_extended_key_usage(certificate) & (XKU_CODE_SIGN | XKU_ANYEKU)) != 0;
}

int RsaKeyBits(const EVP_PKEY* key) {
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return 0;
  return EVP_PKEY_get_bits(key);
}

std::wstring KeyDescription(const EVP_PKEY* key) {
  if (key == nullptr) return L"unknown";
  const int id = EVP_PKEY_get_base_id(key);
  std::wstring text;
  if (id == EVP_PKEY_RSA) {
    text = L"RSA";
  } else if (const char* name = OBJ_nid2sn(id); id != NID_undef && name != nullptr) {
    text = ToWide(name);
  } else {
    return L"unknown";
  }
  char group[80] = {};
  std::size_t groupSize = 0;
  if (id == EVP_PKEY_EC && EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group,
                                                          sizeof group, &groupSize) == 1) {
    text += L" " + ToWide(std::string_view(group, groupSize));
  }
  return text + L" " + std::to_wstring(EVP_PKEY_get_bits(key)) + L" bits";
}

std::vector<CertificateWarning> CheckSigningCertificate(X509* certificate, std::time_t now) {
  std::vector<CertificateWarning> warnings;
  switch (ValidityAt(certificate, now)) {
    case Validity::kNotYetValid:
      warnings.push_back(CertificateWarning::kNotYetValid);
      break;
    case Validity::kExpired:
      warnings.push_back(CertificateWarning::kExpired);
      break;
    case Validity::kCurrent:
      break;
  }
  if (!KeyUsageAllowsSigning(certificate))
    warnings.push_back(CertificateWarning::kNoDigitalSignature);
  if (!ExtendedKeyUsageAllowsCodeSigning(certificate)) {
    warnings.push_back(CertificateWarning::kNoCodeSigning);
  }
  const int bits = RsaKeyBits(X509_get0_pubkey(certificate));
  if (bits > 0 && bits < kMinimumRsaKeyBits) warnings.push_back(CertificateWarning::kWeakRsaKey);
  return warnings;
}

std::wstring CertificateWarningText(CertificateWarning warning, X509* certificate,
                                    std::wstring_view name) {
  const WarningText& parts = kWarningTexts.at(static_cast<std::size_t>(warning));
  std::wstring text = parts.before;
  text += name;
  text += parts.after;
  switch (warning) {
    case CertificateWarning::kNotYetValid:
      text += TimeText(X509_get0_notBefore(certificate));
      break;
    case CertificateWarning::kExpired:
      text += TimeText(X509_get0_notAfter(certificate));
      break;
    case CertificateWarning::kWeakRsaKey:
      text += std::to_wstring(RsaKeyBits(X509_get0_pubkey(certificate))) + L" bits, under " +
              std::to_wstring(kMinimumRsaKeyBits);
      break;
    default:
      break;
  }
  return text;
}

std::wstring KeyProblemText(const KeyStatus& status) {
  std::wstring text = kKeyProblemTexts.at(static_cast<std::size_t>(status.problem));
  const std::wstring file = ToWide(status.keyFile);
  switch (status.problem) {
    case KeyProblem::kNoKey:
      if (!file.empty()) text += L" (no file " + file + L")";
      break;
    case KeyProblem::kUnreadable:
      text = L"the key file " + file + L" cannot be read: " + ToWide(FileErrorText(status.error));
      break;
    case KeyProblem::kUndecodable:
      text = L"the key file " + file + L" holds no readable private key";
      break;
    case KeyProblem::kBadTokenUri:
      text = file + L": " + ToWide(status.detail);
      break;
    default:
      break;
  }
  return text;
}

KeyProblem CheckSigningKey(X509* certificate, EVP_PKEY* key) {
  if (key == nullptr) return KeyProblem::kNoKey;
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return KeyProblem::kNotRsa;
  if (X509_check_private_key(certificate, key) != 1) return KeyProblem::kMismatch;
  return KeyProblem::kNone;
}

}  // namespace brevick
