// tests/app/store_listing_test.cc: what a listing shows of certificates
// without a usual name, and of stores that vanish while listed.
#include "app/store_listing.h"

#include <gtest/gtest.h>

#include "base/report.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using testing::MakeCertificate;
using Strings = std::vector<std::wstring>;

// "CA" empty; "My" with a named certificate, one known by its mail address
// only, and a file that is no certificate; "Root" with a nameless one.
class StoreListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EVP_PKEY* key = testing::TestRsaKey(0);
    home.AddStore("CA");
    home.AddPemWithKey("My", "a.pem", MakeCertificate(key, {{"O", "Acme"}, {"CN", "Signer"}}).get(),
                       key);
    home.AddFile("My", "b.cer",
                 testing::DerOf(MakeCertificate(key, {{"C", "DE"}},
                                                {.serial = 2, .altNameEmail = "build@acme.example"})
                                    .get()));
    home.AddFile("My", "notes.txt", "not a certificate");
    home.AddFile("Root", "root.crt",
                 testing::PemOf(MakeCertificate(key, {{"C", "DE"}}, {.serial = 3}).get()));
    home.AddFile("", "not-a-store.pem", "x");  // a file beside the stores
  }

  void ExpectListing(bool withCertificates, StageResult result, const std::string& console,
                     const Strings& errors) {
    const ConsoleCapture capture;
    EXPECT_EQ(result, ListStores(withCertificates, std::nullopt));
    EXPECT_EQ(console, capture.Text());
    EXPECT_EQ(errors, Errors());
  }

  testing::StoreHome home;
};

TEST_F(StoreListingTest, ShowsEveryStoreAndNothingOnceTheStoresAreGone) {
  ExpectListing(true, StageResult::kGoOn,
                "Store 'CA'\nStore contained 0 certificate(s)\n"
                "Store 'My'\n Signer\n build@acme.example\nStore contained 2 certificate(s)\n"
                "Store 'Root'\n \nStore contained 1 certificate(s)\n",
                {});
  std::filesystem::remove_all(home.StoresDirectory());  // the data home stays
  ExpectListing(false, StageResult::kStoreNotShown, "", {L"No stores to display"});
}

// Listed as a store, gone when opened: as a store removed meanwhile.
TEST_F(StoreListingTest, StoreThatCannotBeOpenedEndsTheListing) {
  const std::filesystem::path removed = home.Root() / "removed";
  std::filesystem::create_directory_symlink(removed, home.StoresDirectory() / "Gone");
  ExpectListing(false, StageResult::kGoOn, "Store 'CA'\n",
                {L"Can't display information for store 'Gone'"});
  std::filesystem::create_directory_symlink(removed, home.StoresDirectory() / "A");
  ExpectListing(false, StageResult::kStoreNotShown, "",
                {L"Can't display information for store 'A'", L"No stores to display"});
}

}  // namespace
}  // namespace brevick
