// signing/store_listing.h: the listing of the current user's certificate
// stores (-LS) and of the certificates in them (-L).
#pragma once

namespace brevick {

// Lists every store, or only the one named by -S. Returns 0, or 12 when no
// store was shown; failures are recorded.
int ListStores(bool withCertificates);

}  // namespace brevick
