// signing/store_listing.cc: placeholder until the store layer lands.
#include "signing/store_listing.h"

#include "app/report.h"

namespace brevick {

int ListStores(bool /*withCertificates*/) {
  RecordError(L"No stores to display");
  return 12;
}

}  // namespace brevick
