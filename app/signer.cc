// app/signer.cc: the signing certificate chosen, checked and used.
#include "app/signer.h"

#include <ctime>
#include <optional>
#include <string>

#include "app/timestamping.h"
#include "base/file_io.h"
#include "base/report.h"
#include "base/utf8.h"
#include "cms/signed_message.h"
#include "pki/certificate_info.h"
#include "token/pkcs11_token.h"

namespace brevick {
namespace {

std::wstring StoreNameOf(const SignerChoice& choice) {
  return choice.storeName.empty() ? std::wstring(kDefaultStoreName) : choice.storeName;
}

// The store as the operator knows it: one they never named is "the default
// store (MY)", so that a message does not seem to quote their command line.
std::wstring StoreLabel(const SignerChoice& choice) {
  if (choice.storeName.empty()) return L"the default store (" + StoreNameOf(choice) + L")";
  return L"store '" + choice.storeName + L"'";
}

std::wstring ThumbprintKindName(const std::vector<std::uint8_t>& thumbprint) {
  return thumbprint.size() == 20 ? L"SHA-1" : L"SHA-256";
}

std::wstring Sha256Text(const X509* certificate) {
  return ThumbprintText(Thumbprint(certificate, ThumbprintKind::kSha256));
}

// What was looked for, for the line that says nothing matched.
std::wstring SearchText(const SignerChoice& choice) {
  std::wstring text = L"no certificate in " + StoreLabel(choice) + L" has";
  if (!choice.subject.empty() || choice.thumbprint.empty()) {
    text += L" a subject containing '" + choice.subject + L"'";
    if (!choice.thumbprint.empty()) text += L" and";
  }
  if (!choice.thumbprint.empty()) {
    text += L" the " + ThumbprintKindName(choice.thumbprint) + L" thumbprint " +
            ThumbprintText(choice.thumbprint);
  }
  return text;
}

// The clauses of every doubt about the chosen certificate.
std::vector<std::wstring> Doubts(const CertificateMatch& match, const SignerChoice& choice) {
  X509* certificate = match.chosen->certificate.get();
  const std::wstring name = SimpleDisplayName(certificate);
  std::vector<std::wstring> doubts;
  for (const CertificateWarning warning :
       CheckSigningCertificate(certificate, std::time(nullptr))) {
    doubts.push_back(CertificateWarningText(warning, certificate, name));
  }
  if (match.matchCount > 1) {
    doubts.push_back(std::to_wstring(match.matchCount) + L" certificates in " + StoreLabel(choice) +
                     L" match; the first in file order signs: '" + name + L"' (SHA-256 " +
                     Sha256Text(certificate) + L")");
  }
  return doubts;
}

void CannotSignNotice(const X509* certificate, const std::wstring& reason) {
  NoticeLine(L"cannot sign with certificate '" + SimpleDisplayName(certificate) + L"': " + reason);
}

// Opens the store and finds the certificate the choice names, telling its
// doubts (with `strict`, recording them); nothing, with the run's error
// recorded, when none may sign. `readKey` false leaves every key unread.
std::optional<StoredCertificate> ChosenCertificate(const SignerChoice& choice, bool readKey) {
  const std::optional<CertStore> store = CertStore::Open(StoreNameOf(choice));
  if (!store) {
    NoticeLine(choice.storeName.empty() ? L"there is no default store (" + StoreNameOf(choice) +
                                              L") in " + ToWide(CertStoresDirectory())
                                        : L"there is no certificate store '" + choice.storeName +
                                              L"' in " + ToWide(CertStoresDirectory()));
    ReportCryptoError(CryptoResult::kCannotOpenStore);
    return std::nullopt;
  }
  CertificateMatch match = FindSigner(*store, choice, readKey);
  if (!match.chosen || SimpleDisplayName(match.chosen->certificate.get()).empty()) {
    NoticeLine(match.chosen ? L"the matching certificate has no name to sign under"
                            : SearchText(choice));
    ReportCryptoError(CryptoResult::kNoSigningCertificate);
    return std::nullopt;
  }
  const std::vector<std::wstring> doubts = Doubts(match, choice);
  for (const std::wstring& doubt : doubts) {
    if (choice.strict) {
      RecordError(L"Refusing to sign: " + doubt);
    } else {
      NoticeLine(L"warning: " + doubt);
    }
  }
  if (choice.strict && !doubts.empty()) return std::nullopt;
  return std::move(match.chosen);
}

}  // namespace

void ReportCryptoError(CryptoResult code) { RecordError(ToWide(CryptoErrorText(code))); }

CertificateMatch FindSigner(const CertStore& store, const SignerChoice& choice, bool readKey) {
  return store.Find(
      [&](const X509* certificate) {
        return ContainsIgnoringCase(SubjectText(certificate), choice.subject) &&
               (choice.thumbprint.empty() || HasThumbprint(certificate, choice.thumbprint));
      },
      readKey);
}

bool SignerWouldBeChosen(const SignerChoice& choice) {
  const OpenSslErrorScope errorScope;
  return ChosenCertificate(choice, false).has_value();
}

bool SignAsChosen(const SignerChoice& choice, std::uint64_t contentSize,
                  std::span<const std::uint8_t> digestInfo, SignedMessageFrame& frame) {
  const OpenSslErrorScope errorScope;
  frame = {};
  const std::optional<StoredCertificate> chosen = ChosenCertificate(choice, true);
  if (!chosen) return false;
  const StoredCertificate& signer = *chosen;
  if (!signer.HasKey()) {
    CannotSignNotice(signer.certificate.get(), KeyProblemText(signer.keyStatus));
    ReportCryptoError(CryptoResult::kCannotSign);
    return false;
  }
  // A key held on a token signs the same DigestInfo there, with the same padding.
  DigestInfoSigner tokenSigner;
  if (signer.tokenKey) {
    tokenSigner = [&signer](std::span<const std::uint8_t> digestInfoToSign) {
      std::vector<std::uint8_t> signature;
      const TokenOutcome outcome =
          SignOnToken(*signer.tokenKey, signer.certificate.get(), digestInfoToSign, signature);
      if (outcome.error != TokenError::kNone) NoticeLine(ToWide(outcome.reason));
      return signature;
    };
  }
  if (contentSize > kMaxBlockSizeInBytes ||
      !BuildSignedMessageFrame(signer.certificate.get(), signer.privateKey.get(), contentSize,
                               choice.digest, digestInfo, frame, &tokenSigner)) {
    // A token has said why on standard error already.
    if (!signer.tokenKey) {
      CannotSignNotice(signer.certificate.get(), L"the private key failed to make the signature");
    }
    ReportCryptoError(CryptoResult::kCannotSign);
    return false;
  }
  NoticeLine(L"signed by " + SubjectText(signer.certificate.get()) + L" (SHA-256 " +
             Sha256Text(signer.certificate.get()) + L")");
  return !choice.timestamp.Wanted() || StampFrame(choice.timestamp, contentSize, frame);
}

}  // namespace brevick
