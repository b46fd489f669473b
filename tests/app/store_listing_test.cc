// tests/signing/store_listing_test.cc
#include "app/store_listing.h"

#include <gtest/gtest.h>

#include "base/report.h"
#include "base/utf8.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using testing::MakeCertificate;
using Strings = std::vector<std::wstring>;

struct Listing {
  StageResult result;
  std::string console;
  Strings errors;
};

Listing List(bool withCertificates, std::optional<std::wstring> storeName = std::nullopt) {
  const ConsoleCapture capture;
  const StageResult result = ListStores(withCertificates, storeName);
  return {result, capture.Text(), Errors()};
}

// Three stores: "CA" empty, "My" with two certificates, "Root" with one
// that has no display name.
class StoreListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signer = MakeCertificate(testing::TestRsaKey(0), {{"O", "Acme"}, {"CN", "Release Signer"}});
    mail = MakeCertificate(testing::TestRsaKey(1), {{"C", "DE"}},
                           {.serial = 2, .altNameEmail = "build@acme.example"});
    nameless = MakeCertificate(testing::TestRsaKey(1), {{"C", "DE"}}, {.serial = 3});
    home.AddStore("CA");
    home.AddPemWithKey("My", "a.pem", signer.get(), testing::TestRsaKey(0));
    home.AddFile("My", "b.cer", testing::DerOf(mail.get()));
    home.AddFile("My", "notes.txt", "not a certificate");
    home.AddFile("Root", "root.crt", testing::PemOf(nameless.get()));
    home.AddFile("", "not-a-store.pem", "x");  // a file beside the stores
  }

  testing::StoreHome home;
  X509Ptr signer, mail, nameless;
};

TEST_F(StoreListingTest, ListsEveryStoreOrTheOneNamedExactly) {
  const Strings noStores = {L"No stores to display"};
  const struct {
    bool withCertificates;
    std::optional<std::wstring> filter;
    StageResult result;
    std::string console;
    Strings errors;
  } cases[] = {
      // clang-format off
      {false, std::nullopt, StageResult::kGoOn, "Store 'CA'\nStore 'My'\nStore 'Root'\n", {}},
      {true, std::nullopt, StageResult::kGoOn, "Store 'CA'\nStore contained 0 certificate(s)\n" "Store 'My'\n Release Signer\n build@acme.example\nStore contained 2 certificate(s)\n" "Store 'Root'\n \nStore contained 1 certificate(s)\n", {}},
      {false, L"My", StageResult::kGoOn, "Store 'My'\n", {}},
      {true, L"Root", StageResult::kGoOn, "Store 'Root'\n \nStore contained 1 certificate(s)\n", {}},
      {true, L"my", StageResult::kStoreNotShown, "", noStores},  // unlike signing, no case folding here
      {true, L"", StageResult::kStoreNotShown, "", noStores},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.filter.value_or(L"(none)")) +
                 (c.withCertificates ? " with certificates" : ""));
    const Listing listing = List(c.withCertificates, c.filter);
    EXPECT_EQ(c.result, listing.result);
    EXPECT_EQ(c.console, listing.console);
    EXPECT_EQ(c.errors, listing.errors);
  }
  std::filesystem::remove_all(home.StoresDirectory());  // the data home stays
  const Listing listing = List(false);
  EXPECT_EQ(StageResult::kStoreNotShown, listing.result);
  EXPECT_EQ(noStores, listing.errors);
}

// Listed as a store, gone when opened: as a store removed meanwhile.
TEST_F(StoreListingTest, StoreThatCannotBeOpenedEndsTheListing) {
  const struct {
    const char* store;
    StageResult result;
    std::string console;
    Strings errors;
  } cases[] = {
      // clang-format off
      {"Gone", StageResult::kGoOn, "Store 'CA'\n", {L"Can't display information for store 'Gone'"}},
      {"A", StageResult::kStoreNotShown, "", {L"Can't display information for store 'A'", L"No stores to display"}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.store);
    const auto link = home.StoresDirectory() / c.store;
    std::filesystem::create_directory_symlink(home.Root() / "removed", link);
    const Listing listing = List(false);
    std::filesystem::remove(link);
    EXPECT_EQ(c.result, listing.result);
    EXPECT_EQ(c.console, listing.console);
    EXPECT_EQ(c.errors, listing.errors);
  }
}

}  // namespace
}  // namespace brevick
