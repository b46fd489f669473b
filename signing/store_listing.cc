// signing/store_listing.cc: -LS and -L. Lines go straight to the console,
// whatever the output flags; only failures go to the error list.
#include "signing/store_listing.h"

#include <optional>
#include <string>

#include "app/report.h"
#include "app/run_settings.h"
#include "signing/cert_store.h"

namespace brevick {
namespace {

constexpr int kNoStoreShown = 12;

// Writes one store and, when asked, its certificates. Returns 0, or
// kNoStoreShown when the store cannot be opened.
int ShowStore(const std::wstring& name, bool withCertificates, bool& storeShown) {
  const std::optional<CertStore> store = CertStore::Open(name);
  if (!store) {
    RecordError(L"Can't display information for store '" + name + L"'");
    return kNoStoreShown;
  }
  storeShown = true;
  WriteLine(L"Store '" + name + L"'");
  if (!withCertificates) return 0;
  std::size_t count = 0;
  for (const StoredCertificate& stored : store->Certificates()) {
    WriteLine(L" " + SimpleDisplayName(stored.certificate.get()));
    ++count;
  }
  WriteLine(L"Store contained " + std::to_wstring(count) + L" certificate(s)");
  return 0;
}

}  // namespace

int ListStores(bool withCertificates) {
  const OpenSslErrorScope errorScope;  // reading names can leave entries behind
  const std::optional<std::wstring>& filter = Settings().storename;
  bool storeShown = false;
  for (const std::wstring& name : EnumerateStoreNames()) {
    // The filter is exact, unlike opening by name: -S names one store as listed.
    if (filter && *filter != name) continue;
    // A store that cannot be opened ends the listing; those before it stand.
    if (ShowStore(name, withCertificates, storeShown) == kNoStoreShown) break;
  }
  if (!storeShown) {
    RecordError(L"No stores to display");
    return kNoStoreShown;
  }
  return 0;
}

}  // namespace brevick
