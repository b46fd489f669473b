// signing/store_listing.h: the listing of the current user's certificate
// stores (-LS) and of the certificates in them (-L).
#pragma once

#include <optional>
#include <string>

#include "base/stage_result.h"

namespace brevick {

// Lists every store, or only the one named `storeFilter` (an exact
// comparison, unlike opening a store by name). Returns kGoOn, or
// kStoreNotShown when no store was shown; failures are recorded.
StageResult ListStores(bool withCertificates, const std::optional<std::wstring>& storeFilter);

}  // namespace brevick
