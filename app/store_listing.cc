// app/store_listing.cc: -LS and -L. Lines go straight to the console,
// whatever the output flags; only failures go to the error list.
#include "app/store_listing.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/report.h"
#include "base/utf8.h"
#include "pki/cert_store.h"
#include "pki/certificate_info.h"
#include "token/pkcs11_token.h"

namespace brevick {
namespace {

// Writes one store and, when asked, its certificates; false when the store
// cannot be opened. The entry's own bytes open it, whatever its name shows.
bool ShowStore(const std::string& entry, bool withCertificates, bool& storeShown) {
  const std::wstring name = ToWide(entry);
  const std::optional<CertStore> store = CertStore::OpenEntry(entry);
  if (!store) {
    RecordError(L"Can't display information for store '" + name + L"'");
    return false;
  }
  storeShown = true;
  WriteLine(L"Store '" + name + L"'");
  if (!withCertificates) return true;
  std::size_t count = 0;
  for (const StoredCertificate& stored : store->Certificates()) {
    WriteLine(L" " + SimpleDisplayName(stored.certificate.get()));
    ++count;
  }
  WriteLine(L"Store contained " + std::to_wstring(count) + L" certificate(s)");
  return true;
}

std::wstring ValidityState(const X509* certificate) {
  switch (ValidityAt(certificate, std::time(nullptr))) {
    case Validity::kNotYetValid:
      return L"not yet valid";
    case Validity::kExpired:
      return L"expired";
    case Validity::kCurrent:
      break;
  }
  return L"valid now";
}

// A token key as its URI names it, without loading its module.
std::wstring TokenKeyFromUri(const Pkcs11Uri& uri) {
  const auto quoted = [](const std::optional<std::string>& value) {
    return value ? L"'" + ToWide(*value) + L"'" : std::wstring(L"(any)");
  };
  return L"PKCS #11 token " + quoted(uri.token) + L", object " + quoted(uri.object) +
         L", not asked (--probe asks the token)";
}

// Where the key is and whether it can sign now. A token is asked only with
// --probe: asking loads its module and may log in, and every wrong PIN
// uses up one of the token's tries.
std::wstring PrivateKeyText(const StoredCertificate& stored, bool probe) {
  if (stored.tokenKey) {
    if (!probe) return TokenKeyFromUri(*stored.tokenKey);
    bool reachable = false;
    const std::wstring description = DescribeTokenKey(*stored.tokenKey, reachable);
    return description + (reachable ? L", reachable now" : L", not reachable now");
  }
  if (stored.privateKey) return L"usable for signing";
  return L"none usable: " + KeyProblemText(stored.keyStatus);
}

std::wstring NoStoreReason(const std::optional<std::wstring>& storeFilter) {
  const std::wstring directory = ToWide(CertStoresDirectory());
  if (storeFilter) return L"there is no certificate store '" + *storeFilter + L"' in " + directory;
  return L"no certificate store to list in " + directory;
}

void ShowCertificateDetails(const StoredCertificate& stored, bool probe) {
  const X509* certificate = stored.certificate.get();
  WriteLine(L" Certificate '" + SimpleDisplayName(certificate) + L"' (" + ToWide(stored.fileName) +
            L")");
  WriteLine(L"  Subject:     " + SubjectText(certificate));
  WriteLine(L"  Issuer:      " + IssuerText(certificate));
  const std::string serial = SerialText(certificate);
  WriteLine(L"  Serial:      " + (serial.empty() ? L"(unreadable)" : ToWide(serial)));
  WriteLine(L"  SHA-256:     " + ThumbprintText(Thumbprint(certificate, ThumbprintKind::kSha256)));
  WriteLine(L"  Valid from:  " +
            ToWide(TimeText(X509_get0_notBefore(certificate), TimeStyle::kListing)));
  WriteLine(L"  Valid to:    " +
            ToWide(TimeText(X509_get0_notAfter(certificate), TimeStyle::kListing)) + L" (" +
            ValidityState(certificate) + L")");
  WriteLine(L"  Key:         " +
            ToWide(KeyDescription(X509_get0_pubkey(certificate), KeyStyle::kListing)));
  WriteLine(L"  Private key: " + PrivateKeyText(stored, probe));
}

void ShowStoreDetails(const std::wstring& name, const CertStore& store, bool probe) {
  WriteLine(L"Store '" + name + L"'");
  const std::vector<StoredCertificate> certificates = store.Certificates();
  for (const StoredCertificate& stored : certificates) ShowCertificateDetails(stored, probe);
  WriteLine(L"Store contained " + std::to_wstring(certificates.size()) + L" certificate(s)");
}

}  // namespace

StageResult ListCertificateDetails(const std::optional<std::wstring>& storeName, bool probe) {
  const OpenSslErrorScope errorScope;
  if (storeName) {
    const std::optional<CertStore> store = CertStore::Open(*storeName);
    if (!store) {
      NoticeLine(L"there is no certificate store '" + *storeName + L"' in " +
                 ToWide(CertStoresDirectory()));
      return StageResult::kStoreNotShown;
    }
    ShowStoreDetails(*storeName, *store, probe);
    return StageResult::kGoOn;
  }
  bool storeShown = false;
  for (const std::string& entry : EnumerateStoreEntries()) {
    const std::optional<CertStore> store = CertStore::OpenEntry(entry);
    if (!store) {
      NoticeLine(L"cannot open the certificate store '" + ToWide(entry) + L"'");
      continue;
    }
    ShowStoreDetails(ToWide(entry), *store, probe);
    storeShown = true;
  }
  if (!storeShown) {
    NoticeLine(L"no certificate store to list in " + ToWide(CertStoresDirectory()));
    return StageResult::kStoreNotShown;
  }
  return StageResult::kGoOn;
}

StageResult ListStores(bool withCertificates, const std::optional<std::wstring>& storeFilter) {
  const OpenSslErrorScope errorScope;  // reading names can leave entries behind
  bool storeShown = false;
  bool openFailed = false;
  for (const std::string& entry : EnumerateStoreEntries()) {
    // The filter is exact, unlike opening by name: -S names one store as listed.
    if (storeFilter && *storeFilter != ToWide(entry)) continue;
    // A store that cannot be opened ends the listing; those before it stand.
    if (!ShowStore(entry, withCertificates, storeShown)) {
      openFailed = true;
      break;
    }
  }
  if (!storeShown) {
    // The fixed text says nothing of why; standard error does.
    if (!openFailed) NoticeLine(NoStoreReason(storeFilter));
    RecordError(L"No stores to display");
    return StageResult::kStoreNotShown;
  }
  return StageResult::kGoOn;
}

}  // namespace brevick
