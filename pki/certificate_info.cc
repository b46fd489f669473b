// pki/certificate_info.cc: certificate and key inspection.
#include "pki/certificate_info.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/objects.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "base/file_io.h"
#include "base/hex_text.h"
#include "base/utf8.h"

namespace brevick {
namespace {

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

// The names of the key types a certificate is likely to carry; OpenSSL's own
// short names ("rsaEncryption", "id-ecPublicKey") are not for people.
struct KeyTypeName {
  int id;
  const char* name;
};
constexpr std::array<KeyTypeName, 6> kKeyTypeNames = {{
    {EVP_PKEY_RSA, "RSA"},
    {EVP_PKEY_RSA_PSS, "RSA-PSS"},
    {EVP_PKEY_EC, "EC"},
    {EVP_PKEY_DSA, "DSA"},
    {EVP_PKEY_ED25519, "Ed25519"},
    {EVP_PKEY_ED448, "Ed448"},
}};

const char* KeyTypeNameOf(int id) {
  for (const KeyTypeName& known : kKeyTypeNames)
    if (known.id == id) return known.name;
  return "unknown";
}

// The curve of an EC key, with a blank before it; empty for other keys.
std::string CurveSuffix(const EVP_PKEY* key) {
  char group[80] = {};
  std::size_t groupSize = 0;
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC ||
      EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                     &groupSize) != 1) {
    return {};
  }
  return " " + std::string(group, groupSize);
}

std::wstring EntryText(const X509_NAME_ENTRY* entry) {
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
  if (length < 0) return {};
  const OpenSslBytesPtr owned(utf8);
  return ToWide(
      std::string_view(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length)));
}

std::wstring FirstAltNameEmail(const X509* certificate) {
  const GeneralNamesPtr names(static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
  if (!names) return {};
  for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
    if (name->type != GEN_EMAIL) continue;
    const ASN1_IA5STRING* email = name->d.rfc822Name;
    return ToWide(std::string_view(reinterpret_cast<const char*>(ASN1_STRING_get0_data(email)),
                                   static_cast<std::size_t>(ASN1_STRING_length(email))));
  }
  return {};
}

std::string FormatTime(const std::tm& parts, TimeStyle style) {
  const char* format = style == TimeStyle::kListing ? "%d-%02d-%02d %02d:%02d:%02d UTC"
                                                    : "%04d-%02d-%02dT%02d:%02d:%02dZ";
  char text[64];
  std::snprintf(text, sizeof text, format, parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

std::string UnreadableTime(TimeStyle style) {
  return style == TimeStyle::kListing ? "(unreadable)" : "";
}

}  // namespace

std::vector<std::uint8_t> Thumbprint(const X509* certificate, ThumbprintKind kind) {
  const OpenSslErrorScope errors;
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int digestSize = 0;
  const EVP_MD* md = kind == ThumbprintKind::kSha1 ? EVP_sha1() : EVP_sha256();
  if (certificate == nullptr || X509_digest(certificate, md, digest.data(), &digestSize) != 1)
    return {};
  digest.resize(digestSize);
  return digest;
}

std::wstring ThumbprintText(std::span<const std::uint8_t> bytes) {
  return ToWide(HexText(bytes, HexCase::kUpper));
}

std::string Sha256Thumbprint(const X509* certificate) {
  return HexText(Thumbprint(certificate, ThumbprintKind::kSha256));
}

std::optional<std::vector<std::uint8_t>> ParseThumbprint(std::wstring_view text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (const wchar_t c : text) {
    if (c == L':' || c == L' ' || c == L'\t') continue;
    const int value = HexDigitValue(static_cast<char32_t>(c));
    if (value < 0) return std::nullopt;
    if (high < 0) {
      high = value;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | value));
      high = -1;
    }
  }
  if (high >= 0 || (bytes.size() != kSha1ThumbprintSize && bytes.size() != kSha256ThumbprintSize))
    return std::nullopt;
  return bytes;
}

bool HasThumbprint(const X509* certificate, std::span<const std::uint8_t> wanted) {
  if (wanted.size() != kSha1ThumbprintSize && wanted.size() != kSha256ThumbprintSize) return false;
  const std::vector<std::uint8_t> actual =
      Thumbprint(certificate, wanted.size() == kSha1ThumbprintSize ? ThumbprintKind::kSha1
                                                                   : ThumbprintKind::kSha256);
  return std::equal(actual.begin(), actual.end(), wanted.begin(), wanted.end());
}

Validity ValidityAt(const X509* certificate, std::time_t now) {
  // X509_cmp_time: -1 when the field lies before `now`, 1 after, 0 unreadable.
  if (X509_cmp_time(X509_get0_notBefore(certificate), &now) >= 0) return Validity::kNotYetValid;
  if (X509_cmp_time(X509_get0_notAfter(certificate), &now) <= 0) return Validity::kExpired;
  return Validity::kCurrent;
}

std::optional<std::time_t> TimeOf(const ASN1_TIME* time) {
  std::tm parts{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return std::nullopt;
  return ::timegm(&parts);
}

std::string TimeText(const ASN1_TIME* time, TimeStyle style) {
  std::tm parts{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return UnreadableTime(style);
  return FormatTime(parts, style);
}

std::string TimeText(std::time_t time, TimeStyle style) {
  std::tm parts{};
  if (::gmtime_r(&time, &parts) == nullptr) return UnreadableTime(style);
  return FormatTime(parts, style);
}

std::string SerialText(const X509* certificate) {
  return IntegerText(X509_get0_serialNumber(certificate));
}

std::string IntegerText(const ASN1_INTEGER* integer) {
  const BignumPtr number(ASN1_INTEGER_to_BN(integer, nullptr));
  if (!number) return {};
  char* hex = BN_bn2hex(number.get());
  if (hex == nullptr) return {};
  std::string text(hex);
  OPENSSL_free(hex);
  return text;
}

std::wstring NameValuesText(const X509_NAME* name) {
  std::wstring text;
  for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
    if (i > 0) text += L", ";
    text += EntryText(X509_NAME_get_entry(name, i));
  }
  return text;
}

std::wstring SubjectText(const X509* certificate) {
  return NameValuesText(X509_get_subject_name(certificate));
}

std::wstring IssuerText(const X509* certificate) {
  return NameValuesText(X509_get_issuer_name(certificate));
}

std::string DistinguishedNameText(const X509_NAME* name) {
  // RFC 2253 order and escaping, but UTF-8 kept as it is instead of \XX.
  const BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || name == nullptr ||
      X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
    return {};
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::wstring SimpleDisplayName(const X509* certificate) {
  const X509_NAME* subject = X509_get_subject_name(certificate);
  for (const int nid :
       {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
    const int index = X509_NAME_get_index_by_NID(subject, nid, -1);
    if (index >= 0) return EntryText(X509_NAME_get_entry(subject, index));
  }
  return FirstAltNameEmail(certificate);
}

bool KeyUsageAllowsSigning(X509* certificate) {
  // The flags are computed (and cached) by this first call.
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

std::string KeyDescription(const EVP_PKEY* key, KeyStyle style) {
  if (key == nullptr) return style == KeyStyle::kListing ? "unknown" : "";
  const std::string type = KeyTypeNameOf(EVP_PKEY_get_base_id(key));
  const std::string bits = std::to_string(EVP_PKEY_get_bits(key));
  if (style == KeyStyle::kReport) return type + " " + bits;
  return type + CurveSuffix(key) + " " + bits + " bits";
}

SignerDetails DescribeCertificate(const X509* certificate) {
  const OpenSslErrorScope errors;
  SignerDetails details;
  if (certificate == nullptr) return details;
  details.subject = DistinguishedNameText(X509_get_subject_name(certificate));
  details.issuer = DistinguishedNameText(X509_get_issuer_name(certificate));
  details.serial = SerialText(certificate);
  details.sha256 = Sha256Thumbprint(certificate);
  details.sha1 = HexText(Thumbprint(certificate, ThumbprintKind::kSha1));
  details.notBefore = Rfc3339Time(X509_get0_notBefore(certificate));
  details.notAfter = Rfc3339Time(X509_get0_notAfter(certificate));
  details.key = KeyDescription(X509_get0_pubkey(certificate), KeyStyle::kReport);
  return details;
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
      text += ToWide(TimeText(X509_get0_notBefore(certificate), TimeStyle::kListing));
      break;
    case CertificateWarning::kExpired:
      text += ToWide(TimeText(X509_get0_notAfter(certificate), TimeStyle::kListing));
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
