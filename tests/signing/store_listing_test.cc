// tests/signing/store_listing_test.cc
#include "signing/store_listing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "app/report.h"
#include "app/run_settings.h"
#include "app/utf8.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using testing::MakeCertificate;
using testing::StoreHome;

struct Listing {
  int result;
  std::string console;
  std::vector<std::wstring> errors;
};

Listing List(bool withCertificates, std::optional<std::wstring> storename = std::nullopt) {
  Settings() = RunSettings{};
  Settings().storename = std::move(storename);
  const ConsoleCapture capture;
  const int result = ListStores(withCertificates);
  return {result, capture.Text(), Errors()};
}

// Three stores: "CA" empty, "My" with two certificates, "Root" with one
// that has no display name.
class StoreListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signer = MakeCertificate(testing::TestRsaKey(0), {{"O", "Acme"}, {"CN", "Release Signer"}});
    mail = MakeCertificate(testing::TestRsaKey(1), {{"C", "DE"}}, 2, "build@acme.example");
    nameless = MakeCertificate(testing::TestRsaKey(1), {{"C", "DE"}}, 3);
    home.AddStore("CA");
    home.AddPemWithKey("My", "a.pem", signer.get(), testing::TestRsaKey(0));
    home.AddFile("My", "b.cer", testing::DerOf(mail.get()));
    home.AddFile("My", "notes.txt", "not a certificate");
    home.AddFile("Root", "root.crt", testing::PemOf(nameless.get()));
  }

  StoreHome home;
  X509Ptr signer, mail, nameless;
};

TEST_F(StoreListingTest, ListsEveryStoreName) {
  const Listing listing = List(false);
  EXPECT_EQ(0, listing.result);
  EXPECT_EQ("Store 'CA'\nStore 'My'\nStore 'Root'\n", listing.console);
  EXPECT_TRUE(listing.errors.empty());
}

TEST_F(StoreListingTest, ListsEveryStoreWithItsCertificates) {
  const Listing listing = List(true);
  EXPECT_EQ(0, listing.result);
  EXPECT_EQ(
      "Store 'CA'\n"
      "Store contained 0 certificate(s)\n"
      "Store 'My'\n"
      " Release Signer\n"
      " build@acme.example\n"
      "Store contained 2 certificate(s)\n"
      "Store 'Root'\n"
      " \n"
      "Store contained 1 certificate(s)\n",
      listing.console);
  EXPECT_TRUE(listing.errors.empty());
}

TEST_F(StoreListingTest, FilterNamesOneStoreExactly) {
  const struct { bool withCertificates; std::wstring filter; std::string console; } cases[] = {
      {true, L"CA", "Store 'CA'\nStore contained 0 certificate(s)\n"},
      {false, L"My", "Store 'My'\n"},
      {true, L"Root", "Store 'Root'\n \nStore contained 1 certificate(s)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.console);
    const Listing listing = List(c.withCertificates, c.filter);
    EXPECT_EQ(0, listing.result);
    EXPECT_EQ(c.console, listing.console);
    EXPECT_TRUE(listing.errors.empty());
  }
}

TEST_F(StoreListingTest, NothingShownIsRecorded) {
  const std::vector<std::wstring> noStores = {L"No stores to display"};
  for (const wchar_t* filter : {L"MY", L"my", L"Nowhere", L""}) {
    SCOPED_TRACE(ToUtf8(filter));
    const Listing listing = List(true, filter);
    EXPECT_EQ(12, listing.result);
    EXPECT_EQ("", listing.console);
    EXPECT_EQ(noStores, listing.errors);
  }
}

TEST(StoreListingWithoutStoresTest, NoStoresDirectoryIsRecorded) {
  const StoreHome home;  // the data home exists, brevick/certstores does not
  const Listing listing = List(false);
  EXPECT_EQ(12, listing.result);
  EXPECT_EQ("", listing.console);
  EXPECT_EQ(std::vector<std::wstring>{L"No stores to display"}, listing.errors);
}

TEST_F(StoreListingTest, StoreThatCannotBeOpenedEndsTheListing) {
  // Listed as a store, gone when opened: as a store removed meanwhile.
  std::filesystem::create_directory_symlink(home.Root() / "removed", home.StoresDirectory() / "Gone");
  const Listing listing = List(false);
  EXPECT_EQ(0, listing.result);
  EXPECT_EQ("Store 'CA'\n", listing.console);
  EXPECT_EQ(std::vector<std::wstring>{L"Can't display information for store 'Gone'"}, listing.errors);
}

TEST_F(StoreListingTest, UnreadableStoreEndsTheListing) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every directory";
  std::filesystem::permissions(home.StoresDirectory() / "My", std::filesystem::perms::none);
  const Listing listing = List(false);
  EXPECT_EQ("Store 'CA'\n", listing.console);
  EXPECT_EQ(std::vector<std::wstring>{L"Can't display information for store 'My'"}, listing.errors);
}

TEST_F(StoreListingTest, FirstStoreThatCannotBeOpenedAlsoMeansNothingShown) {
  std::filesystem::create_directory_symlink(home.Root() / "removed", home.StoresDirectory() / "A");
  const Listing listing = List(true);
  EXPECT_EQ(12, listing.result);
  EXPECT_EQ("", listing.console);
  const std::vector<std::wstring> expected = {L"Can't display information for store 'A'", L"No stores to display"};
  EXPECT_EQ(expected, listing.errors);
}

}  // namespace
}  // namespace brevick
