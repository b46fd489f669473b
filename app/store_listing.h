// app/store_listing.h: the listing of the current user's certificate
// stores (-LS) and of the certificates in them (-L).
#pragma once

#include <optional>
#include <string>

#include "base/stage_result.h"

namespace brevick {

// Lists every store, or only the one named `storeFilter` (an exact
// comparison, unlike opening a store by name). Returns kGoOn, or
// kStoreNotShown when no store was shown; failures are recorded, and why no
// store was shown goes to standard error.
StageResult ListStores(bool withCertificates, const std::optional<std::wstring>& storeFilter);

// The detailed listing: for every store (or only the one `storeName` opens,
// by the rules of signing's -S), each certificate's display name and file,
// subject, issuer, serial, SHA-256 thumbprint, validity, key type and size,
// and whether a private key that can sign is there and, if not, why. A key
// on a token is described from its URI alone unless `probe` asks the token
// (loading its module, logging in). Returns kGoOn, or kStoreNotShown with
// the reason on standard error.
StageResult ListCertificateDetails(const std::optional<std::wstring>& storeName,
                                   bool probe = false);

}  // namespace brevick
