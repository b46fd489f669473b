// signing/store_listing.cc: -LS and -L. Lines go straight to the console,
// whatever the output flags; only failures go to the error list.
#include "signing/store_listing.h"

#include <optional>
#include <string>

#include "base/report.h"
#include "signing/cert_store.h"

namespace brevick {
namespace {

// Writes one store and, when asked, its certificates; false when the store
// cannot be opened.
bool ShowStore(const std::wstring& name, bool withCertificates, bool& storeShown) {
  const std::optional<CertStore> store = CertStore::Open(name);
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

}  // namespace

StageResult ListStores(bool withCertificates, const std::optional<std::wstring>& storeFilter) {
  const OpenSslErrorScope errorScope;  // reading names can leave entries behind
  bool storeShown = false;
  for (const std::wstring& name : EnumerateStoreNames()) {
    // The filter is exact, unlike opening by name: -S names one store as listed.
    if (storeFilter && *storeFilter != name) continue;
    // A store that cannot be opened ends the listing; those before it stand.
    if (!ShowStore(name, withCertificates, storeShown)) break;
  }
  if (!storeShown) {
    RecordError(L"No stores to display");
    return StageResult::kStoreNotShown;
  }
  return StageResult::kGoOn;
}

}  // namespace brevick
