// The verify library on real signed messages, certificates and files.
#include "verify/verify.h"

#include <fcntl.h>
#include <openssl/pkcs7.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "pki/certificate_info.h"
#include "tests/support/long_tests.h"
#include "tests/support/verify_fixture.h"

namespace brevick::testing {
namespace {

constexpr int kInvalid = static_cast<int>(VerifyFailure::kInvalidMessage);
constexpr int kUntrusted = static_cast<int>(VerifyFailure::kUntrusted);
constexpr int kFiles = static_cast<int>(VerifyFailure::kFilesDiffer);
constexpr int kOutput = static_cast<int>(VerifyFailure::kOutputFailed);

const std::vector<PackageFile> kTwoFiles = {
    {"Core", "core", "a.dll", "alpha bytes", ""},
    {"Core", "core", "b.cfg", "beta", ""},
};

class VerifyTest : public VerifyFixture {};

// The DER message with a copy of its first SignerInfo appended, changed by
// `change`.
std::string WithSecondSignerInfo(const std::string& der, void (*change)(PKCS7_SIGNER_INFO*)) {
  const auto* next = reinterpret_cast<const unsigned char*>(der.data());
  const Pkcs7Ptr message(d2i_PKCS7(nullptr, &next, static_cast<long>(der.size())));
  auto* second = static_cast<PKCS7_SIGNER_INFO*>(
      ASN1_item_dup(ASN1_ITEM_rptr(PKCS7_SIGNER_INFO),
                    sk_PKCS7_SIGNER_INFO_value(message->d.sign->signer_info, 0)));
  change(second);
  sk_PKCS7_SIGNER_INFO_push(message->d.sign->signer_info, second);
  unsigned char* out = nullptr;
  const int size = i2d_PKCS7(message.get(), &out);
  std::string bytes(reinterpret_cast<char*>(out), static_cast<std::size_t>(size));
  OPENSSL_free(out);
  return bytes;
}

TEST_F(VerifyTest, TrustVerdictsForEachAnchorKind) {
  const X509Ptr expired = MakeCertificate(TestRsaKey(0), {{"CN", "Expired Signer"}},
                                          {.serial = 8,
                                           .issuer = root.get(),
                                           .issuerKey = TestRsaKey(1),
                                           .notBeforeDays = -30,
                                           .notAfterDays = -1,
                                           .keyUsage = "digitalSignature"});
  const X509Ptr certSignOnly = MakeCertificate(TestRsaKey(0), {{"CN", "No Signing"}},
                                               {.serial = 9,
                                                .issuer = root.get(),
                                                .issuerKey = TestRsaKey(1),
                                                .keyUsage = "keyEncipherment"});
  const X509Ptr serverOnly = MakeCertificate(TestRsaKey(0), {{"CN", "Server"}},
                                             {.serial = 10,
                                              .issuer = root.get(),
                                              .issuerKey = TestRsaKey(1),
                                              .extendedKeyUsage = "serverAuth"});
  const std::string rootPem = WriteFile("root.pem", PemOf(otherRoot.get()) + PemOf(root.get()));
  const std::string rootDer = WriteFile("root.der", DerOf(root.get()));
  const std::string otherPem = WriteFile("other.pem", PemOf(otherRoot.get()));
  const std::string selfPem = WriteFile("self.pem", PemOf(selfSigned.get()));
  const std::string empty = WriteFile("empty.pem", "");
  const std::string garbage =
      WriteFile("garbage.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
  const std::string partlyBroken =
      WriteFile("partly.pem", PemOf(root.get()) + ReadFileBytes(garbage));
  const std::string signerPin = Sha256Thumbprint(signer.get());
  // Sparse: a certificate file is refused by its size before it is read.
  const std::string huge = WriteFile("huge.pem", PemOf(root.get()));
  std::filesystem::resize_file(huge, (16u << 20) + 1);
  StoreHome home;
  home.AddFile("Anchors", "root.pem", PemOf(root.get()));

  X509* const ca = signer.get();
  X509* const self = selfSigned.get();
  EVP_PKEY* const caKey = TestRsaKey(0);
  EVP_PKEY* const selfKey = TestRsaKey(2);
  const struct {
    const char* name;
    X509* cert;
    EVP_PKEY* key;
    std::vector<std::string> trustFiles;
    std::vector<std::wstring> stores;
    std::optional<std::string> pin;
    bool strict, trusted;
    const char* reasonPart;
  } cases[] = {
      // clang-format off
      {"CA-issued, root among several PEM anchors", ca, caKey, {rootPem}, {}, {}, false, true, "chains to CN=Test Root"},
      {"CA-issued, root as DER", ca, caKey, {rootDer}, {}, {}, false, true, "root.der"},
      {"self-signed, itself as anchor", self, selfKey, {selfPem}, {}, {}, false, true, "chains to CN=Self Signer"},
      {"root from a Brevick store", ca, caKey, {}, {L"anchors"}, {}, false, true, "store anchors"},
      {"signer outside the trust file", ca, caKey, {otherPem}, {}, {}, false, false, "unable to get local issuer certificate"},
      {"self-signed against a CA", self, selfKey, {rootPem}, {}, {}, false, false, "no chain to the anchors"},
      {"expired signer", expired.get(), caKey, {rootPem}, {}, {}, false, false, "certificate has expired"},
      {"no trust option", ca, caKey, {}, {}, {}, false, false, "not checked against any trust anchor"},
      {"pinned thumbprint", ca, caKey, {}, {}, signerPin, false, true, "pinned one"},
      {"another thumbprint pinned", self, selfKey, {}, {}, signerPin, false, false, "is not the pinned one"},
      {"pinned but expired", expired.get(), caKey, {}, {}, Sha256Thumbprint(expired.get()), false, false, "pinned, but certificate has expired"},
      {"pin rescues a failed chain", ca, caKey, {otherPem}, {}, signerPin, false, true, "pinned one"},
      {"key usage without digitalSignature", certSignOnly.get(), caKey, {rootPem}, {}, {}, false, false, "does not allow digital signatures"},
      {"serverAuth only, lenient", serverOnly.get(), caKey, {rootPem}, {}, {}, false, true, "chains to"},
      {"serverAuth only, strict", serverOnly.get(), caKey, {rootPem}, {}, {}, true, false, "does not allow code signing"},
      {"empty trust file", ca, caKey, {empty, rootPem}, {}, {}, false, false, "empty.pem holds no certificate"},
      {"trust file that does not decode", ca, caKey, {garbage}, {}, {}, false, false, "garbage.pem does not decode"},
      {"one broken block after a good one", ca, caKey, {partlyBroken}, {}, {}, false, false, "partly.pem does not decode"},
      {"trust file missing", ca, caKey, {rootPem + ".nope"}, {}, {}, false, false, "cannot be read (No such file"},
      {"store missing", ca, caKey, {}, {L"Nope"}, {}, false, false, "store Nope cannot be opened"},
      {"empty trust file beside a matching pin", ca, caKey, {empty}, {}, signerPin, false, false, "empty.pem holds no certificate"},
      {"missing store beside a matching pin", ca, caKey, {}, {L"Nope"}, signerPin, false, false, "store Nope cannot be opened"},
      {"trust file over 16 MiB", ca, caKey, {huge}, {}, {}, false, false, "huge.pem is larger than 16 MiB"},
      {"MD2 signature, strict", ca, caKey, {rootPem}, {}, {}, true, false, "but the signature uses MD2"},
      // clang-format on
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    VerifyOptions options;
    options.signedPath = WriteSigned("<x/>", test.cert, test.key);
    options.trustFiles = test.trustFiles;
    options.trustStores = test.stores;
    options.pinnedSha256 = test.pin;
    options.strict = test.strict;
    const VerifyReport report = VerifySignedManifest(options);
    EXPECT_TRUE(report.signature.valid);
    EXPECT_EQ(test.trusted, report.trust.trusted) << report.trust.reason;
    EXPECT_NE(std::string::npos, report.trust.reason.find(test.reasonPart)) << report.trust.reason;
    EXPECT_EQ(test.trusted ? 0 : kUntrusted, report.exitCode);
  }
}

TEST_F(VerifyTest, IntermediateCarriedInTheMessageCompletesTheChain) {
  const X509Ptr intermediate = MakeCertificate(TestRsaKey(3), {{"CN", "Intermediate"}},
                                               {.serial = 20,
                                                .issuer = root.get(),
                                                .issuerKey = TestRsaKey(1),
                                                .basicConstraints = "critical,CA:TRUE",
                                                .keyUsage = "keyCertSign"});
  const X509Ptr leaf =
      MakeCertificate(TestRsaKey(0), {{"CN", "Leaf"}},
                      {.serial = 21, .issuer = intermediate.get(), .issuerKey = TestRsaKey(3)});
  VerifyOptions options;
  options.trustFiles = {WriteFile("root.pem", PemOf(root.get()))};
  options.signedPath = WriteSigned("<x/>", leaf.get(), TestRsaKey(0));
  EXPECT_FALSE(VerifySignedManifest(options).trust.trusted);
  options.signedPath = WriteSigned("<x/>", leaf.get(), TestRsaKey(0), intermediate.get());
  const VerifyReport report = VerifySignedManifest(options);
  EXPECT_TRUE(report.signature.valid);
  EXPECT_TRUE(report.trust.trusted) << report.trust.reason;
  EXPECT_EQ("CN=Leaf", report.signer->subject);
  // The leaf itself as the anchor: the reason names it, not the carried
  // intermediate the chain runs on to.
  options.trustFiles = {WriteFile("leaf.pem", PemOf(leaf.get()))};
  const VerifyReport pinnedLeaf = VerifySignedManifest(options);
  EXPECT_TRUE(pinnedLeaf.trust.trusted) << pinnedLeaf.trust.reason;
  EXPECT_EQ(0u, pinnedLeaf.trust.reason.find("chains to CN=Leaf (")) << pinnedLeaf.trust.reason;
}

TEST_F(VerifyTest, SignerDetailsDescribeTheCarriedCertificate) {
  VerifyOptions options;
  options.signedPath = WriteSigned("<x/>", signer.get(), TestRsaKey(0));
  const VerifyReport report = VerifySignedManifest(options);
  ASSERT_TRUE(report.signer);
  EXPECT_EQ("md2", report.signature.digest);
  EXPECT_EQ("CN=Release Signer,O=Example", report.signer->subject);
  EXPECT_EQ("CN=Test Root", report.signer->issuer);
  EXPECT_EQ("07", report.signer->serial);
  EXPECT_EQ(Sha256Thumbprint(signer.get()), report.signer->sha256);
  EXPECT_EQ(64u, report.signer->sha256.size());
  EXPECT_EQ(40u, report.signer->sha1.size());
  EXPECT_EQ("RSA 1024", report.signer->key);
  EXPECT_LT(report.signer->notBefore, report.signer->notAfter);
  EXPECT_EQ('Z', report.signer->notAfter.back());
}

TEST_F(VerifyTest, InvalidMessagesStopBeforeTrustAndFiles) {
  const std::string good = ReadFileBytes(SignPackage(kTwoFiles, signer.get(), TestRsaKey(0)));
  std::string tampered = good;
  tampered[tampered.find("alpha") == std::string::npos ? tampered.find("dravane") : 0] ^= 0;
  const std::size_t contentAt = tampered.find("dravanePackage");
  ASSERT_NE(std::string::npos, contentAt);
  tampered[contentAt] = 'D';
  const struct {
    const char* name;
    std::string bytes;
    std::string errorPart;
  } cases[] = {
      // clang-format off
      {"truncated", good.substr(0, good.size() - 10), "declares"},
      {"one content byte changed", tampered, "does not match"},
      {"plain XML", ManifestFor(kTwoFiles), "not a signed message"},
      {"empty", "", "not a signed message"},
      {"trailing bytes", good + "x", "but the file holds " + std::to_string(good.size() + 1)},
      {"header cut short", "\x30\x84\x01", "cut short or malformed"},
      {"header claims 2 GiB", std::string("\x30\x84\x7F\xFF\xFF\xFF", 6) + std::string(9000, '\0'), "declares 2147483653 bytes but the file holds 9006"},
      // clang-format on
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    VerifyOptions options;
    options.signedPath = WriteFile("bad.p7", test.bytes);
    options.packageDirectory = PackageDir();
    options.trustFiles = {WriteFile("root.pem", PemOf(root.get()))};
    options.extractPath = (temp.Path() / "extracted.xml").string();
    const VerifyReport report = VerifySignedManifest(options);
    EXPECT_FALSE(report.signature.valid);
    EXPECT_NE(std::string::npos, report.signature.error.find(test.errorPart))
        << report.signature.error;
    EXPECT_EQ(kInvalid, report.exitCode);
    EXPECT_FALSE(report.trust.checked);
    EXPECT_FALSE(report.files.checked);
    EXPECT_EQ("the signature is not valid", report.files.skipped);
    EXPECT_EQ("not written: the signature is not valid", report.extractError);
    EXPECT_FALSE(std::filesystem::exists(*options.extractPath));
  }
  VerifyOptions missing;
  missing.signedPath = (temp.Path() / "absent.p7").string();
  const VerifyReport report = VerifySignedManifest(missing);
  EXPECT_EQ(kInvalid, report.exitCode);
  EXPECT_EQ("cannot be read: No such file or directory", report.signature.error);
}

// Each case starts from a fresh, matching package and changes one thing.
TEST_F(VerifyTest, FileStatusesAndTheFilesBit) {
  const struct {
    const char* name;
    std::vector<PackageFile> files;
    void (*change)(const std::filesystem::path& package);
    bool strict;
    std::vector<FileStatus> statuses;
    std::vector<std::string> extra;
    int exitCode;
  } cases[] = {
      // clang-format off
      {"all match", kTwoFiles, [](const std::filesystem::path&) {}, true, {FileStatus::kOk, FileStatus::kOk}, {}, 0},
      {"one byte changed", kTwoFiles, [](const std::filesystem::path& p) {std::ofstream(p / "core/b.cfg", std::ios::binary) << "betA";}, false, {FileStatus::kOk, FileStatus::kDiffers}, {}, kFiles},
      {"missing", kTwoFiles, [](const std::filesystem::path& p) { std::filesystem::remove(p / "core/a.dll"); }, false, {FileStatus::kMissing, FileStatus::kOk}, {}, kFiles},
      {"extra, lenient", kTwoFiles, [](const std::filesystem::path& p) { std::ofstream(p / "core/new.txt") << "x"; }, false, {FileStatus::kOk, FileStatus::kOk}, {"core/new.txt"}, 0},
      {"extra, strict", kTwoFiles, [](const std::filesystem::path& p) { std::ofstream(p / "stray") << "x"; }, true, {FileStatus::kOk, FileStatus::kOk}, {"stray"}, kFiles},
      {"no digest, lenient", {{"M", "", "plain.txt", "p", "<md5/>"}}, [](const std::filesystem::path&) {}, false, {FileStatus::kNoDigest}, {}, 0},
      {"no digest, strict", {{"M", "", "plain.txt", "p", "<md5/>"}}, [](const std::filesystem::path&) {}, true, {FileStatus::kNoDigest}, {}, kFiles},
      {"FIFO as module file", kTwoFiles, [](const std::filesystem::path& p) {std::filesystem::remove(p / "core/a.dll"); ASSERT_EQ(0, ::mkfifo((p / "core/a.dll").c_str(), 0600));}, false, {FileStatus::kUnreadable, FileStatus::kOk}, {}, kFiles},
      {"directory as module file", kTwoFiles, [](const std::filesystem::path& p) {std::filesystem::remove(p / "core/a.dll"); std::filesystem::create_directory(p / "core/a.dll");}, false, {FileStatus::kUnreadable, FileStatus::kOk}, {}, kFiles},
      {"sha256 matches beside md5", {{"M", "", "s.bin", "sha", "<md5 value=\"0x" + Md5Hex("sha") + "\"/><sha256 value=\"" + Sha256Hex("sha") + "\"/>"}}, [](const std::filesystem::path&) {}, false, {FileStatus::kOk}, {}, 0},
      {"sha256 differs although md5 matches", {{"M", "", "s.bin", "sha", "<md5 value=\"0x" + Md5Hex("sha") + "\"/><sha256 value=\"" + Sha256Hex("shb") + "\"/>"}}, [](const std::filesystem::path&) {}, false, {FileStatus::kDiffers}, {}, kFiles},
      {"backslash path and uppercase digest", {{"M", "sub\\deep", "x.bin", "xx", "<md5 value=\"0X" + [] {std::string h = Md5Hex("xx"); for (char& c : h) c = static_cast<char>(std::toupper(c)); return h;}() + "\"/>"}}, [](const std::filesystem::path&) {}, true, {FileStatus::kOk}, {}, 0},
      // clang-format on
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    std::filesystem::remove_all(PackageDir());
    VerifyOptions options;
    options.signedPath = SignPackage(test.files, signer.get(), TestRsaKey(0));
    options.packageDirectory = PackageDir();
    options.pinnedSha256 = Sha256Thumbprint(signer.get());
    options.strict = test.strict;
    test.change(PackageDir());
    const VerifyReport report = VerifySignedManifest(options);
    ASSERT_TRUE(report.files.checked) << report.files.error;
    ASSERT_EQ(test.statuses.size(), report.files.entries.size());
    for (std::size_t i = 0; i < test.statuses.size(); ++i) {
      EXPECT_EQ(FileStatusText(test.statuses[i]),
                std::string(FileStatusText(report.files.entries[i].status)))
          << report.files.entries[i].path;
    }
    EXPECT_EQ(test.extra, report.files.extra);
    // The fixture signs with MD2, which --strict does not trust.
    EXPECT_EQ(test.exitCode | (test.strict ? kUntrusted : 0), report.exitCode);
  }
}

// Each file is hashed with exactly the digests its manifest entry holds,
// whichever of them and however many, and each result lands on its own kind.
TEST_F(VerifyTest, EveryDigestCombinationComparesEachKind) {
  const auto md5 = [](const std::string& b) { return "<md5 value=\"" + Md5Hex(b) + "\"/>"; };
  const auto sha = [](const char* element, const char* name, const std::string& b) {
    return std::string("<") + element + " value=\"" + ShaHex(b, name) + "\"/>";
  };
  const struct {
    const char* file;
    std::string bytes;
    std::string digestElements;
    FileStatus status;
  } cases[] = {
      // clang-format off
      {"md5.bin", "m", md5("m"), FileStatus::kOk},
      {"sha256-only.bin", "s", sha("sha256", "SHA256", "s"), FileStatus::kOk},
      {"sha512-only-differs.bin", "t", sha("sha512", "SHA512", "not t"), FileStatus::kDiffers},
      {"every-digest.bin", std::string(300000, 'e'), md5(std::string(300000, 'e')) + sha("sha256", "SHA256", std::string(300000, 'e')) + sha("sha384", "SHA384", std::string(300000, 'e')) + sha("sha512", "SHA512", std::string(300000, 'e')), FileStatus::kOk},
      {"sha384-and-sha512.bin", "x", sha("sha384", "SHA384", "x") + sha("sha512", "SHA512", "x"), FileStatus::kOk},
      {"md5-ok-sha384-differs.bin", "y", md5("y") + sha("sha384", "SHA384", "z"), FileStatus::kDiffers},
      // clang-format on
  };
  std::vector<PackageFile> files;
  for (const auto& c : cases) files.push_back({"M", "", c.file, c.bytes, c.digestElements});
  for (const int jobs : {1, 3}) {
    SCOPED_TRACE(jobs);
    std::filesystem::remove_all(PackageDir());
    VerifyOptions options;
    options.signedPath = SignPackage(files, signer.get(), TestRsaKey(0));
    options.packageDirectory = PackageDir();
    options.jobs = jobs;
    const VerifyReport report = VerifySignedManifest(options);
    ASSERT_EQ(std::size(cases), report.files.entries.size());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      const FileEntry& entry = report.files.entries[i];
      SCOPED_TRACE(entry.path);
      EXPECT_EQ(cases[i].status, entry.status);
      for (const DigestComparison& digest : entry.digests) {
        SCOPED_TRACE(DigestKindName(digest.kind));
        const char* const kOpenSslNames[] = {nullptr, "SHA256", "SHA384", "SHA512"};
        EXPECT_EQ(digest.kind == DigestKind::kMd5
                      ? Md5Hex(cases[i].bytes)
                      : ShaHex(cases[i].bytes, kOpenSslNames[static_cast<int>(digest.kind)]),
                  digest.actual);
      }
    }
  }
}

// A file whose size does not hold still while it is read (as a /proc file,
// which claims none) has no digest of any one content: it cannot pass.
TEST_F(VerifyTest, FileChangingWhileReadIsUnreadable) {
  VerifyOptions options;
  options.signedPath =
      WriteSigned(ManifestFor({{"M", "", "status", "", "<md5 value=\"" + Md5Hex("") + "\"/>"}}),
                  signer.get(), TestRsaKey(0));
  options.packageDirectory = "/proc/self";
  const VerifyReport report = VerifySignedManifest(options);
  ASSERT_EQ(1u, report.files.entries.size());
  EXPECT_EQ(FileStatus::kUnreadable, report.files.entries[0].status);
  EXPECT_EQ("The file changed while it was read", report.files.entries[0].detail);
  EXPECT_EQ("", report.files.entries[0].digests[0].actual);
  EXPECT_EQ(kUntrusted | kFiles, report.exitCode);
}

TEST_F(VerifyTest, PathsLeavingThePackageAreNeverRead) {
  const std::string secret = WriteFile("secret.txt", "outside");
  const std::string digest = "<md5 value=\"0x" + Md5Hex("outside") + "\"/>";
  std::filesystem::create_directories(PackageDir());
  std::filesystem::create_symlink(secret, temp.Path() / "pkg/link.txt");
  std::filesystem::create_symlink(temp.Path(), temp.Path() / "pkg/up");
  // A sibling whose name begins with the package directory's is outside too.
  std::filesystem::create_symlink(WriteFile("pkg-x/secret.txt", "outside"),
                                  temp.Path() / "pkg/sibling.txt");
  const std::string manifest = ManifestFor({
      {"M", "", "..\\secret.txt", "", digest},
      {"M", "", "..\\..\\..\\..\\etc\\passwd", "", digest},
      {"M", "", secret, "", digest},
      {"M", "", "link.txt", "", digest},
      {"M", "", "up\\secret.txt", "", digest},
      {"M", "", "sibling.txt", "", digest},
      {"N", "a\\..\\..", "secret.txt", "", digest},
  });
  VerifyOptions options;
  options.signedPath = WriteSigned(manifest, signer.get(), TestRsaKey(0));
  options.packageDirectory = PackageDir();
  options.pinnedSha256 = Sha256Thumbprint(signer.get());
  const VerifyReport report = VerifySignedManifest(options);
  ASSERT_EQ(7u, report.files.entries.size());
  for (const FileEntry& entry : report.files.entries) {
    SCOPED_TRACE(entry.path);
    EXPECT_EQ(FileStatus::kOutside, entry.status);
    EXPECT_EQ("", entry.digests[0].actual);  // nothing was hashed
  }
  EXPECT_EQ(kFiles, report.exitCode);
}

TEST_F(VerifyTest, PackageDirectoryProblemsSetTheFilesBit) {
  const std::string notXml = (temp.Path() / "notxml.p7").string();
  std::filesystem::rename(WriteSigned("not xml at all", signer.get(), TestRsaKey(0)), notXml);
  const std::string notManifest = (temp.Path() / "notmanifest.p7").string();
  std::filesystem::rename(WriteSigned("<html><body/></html>", signer.get(), TestRsaKey(0)),
                          notManifest);
  const std::string good = SignPackage(kTwoFiles, signer.get(), TestRsaKey(0));
  const struct {
    const char* name;
    std::string signedPath;
    std::string directory;
    const char* errorPart;
  } cases[] = {
      {"directory missing", good, (temp.Path() / "nowhere").string(), "No such file"},
      {"directory is a file", good, good, "not a directory"},
      {"content is not XML", notXml, PackageDir(), "not XML"},
      {"content is XML but no manifest", notManifest, PackageDir(), "has no package modules"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    VerifyOptions options;
    options.signedPath = test.signedPath;
    options.packageDirectory = test.directory;
    const VerifyReport report = VerifySignedManifest(options);
    EXPECT_NE(std::string::npos, report.files.error.find(test.errorPart)) << report.files.error;
    EXPECT_EQ(kUntrusted | kFiles, report.exitCode);
  }
}

TEST_F(VerifyTest, SignedMessageInsideThePackageIsNotExtra) {
  std::filesystem::create_directories(PackageDir());
  VerifyOptions options;
  options.signedPath = SignPackage(kTwoFiles, signer.get(), TestRsaKey(0));
  const std::string inside = PackageDir() + "/release.p7";
  std::filesystem::rename(options.signedPath, inside);
  options.signedPath = inside;
  options.packageDirectory = PackageDir();
  options.strict = true;
  const VerifyReport report = VerifySignedManifest(options);
  EXPECT_TRUE(report.files.extra.empty());
  EXPECT_EQ(kUntrusted, report.exitCode);
}

TEST_F(VerifyTest, ExtractWritesTheSignedContentOnlyWhenTrusted) {
  VerifyOptions options;
  options.signedPath = SignPackage(kTwoFiles, signer.get(), TestRsaKey(0));
  options.extractPath = (temp.Path() / "out.xml").string();
  const std::string old = "old content that is longer than anything";
  WriteFile("out.xml", old);
  VerifyReport report = VerifySignedManifest(options);
  EXPECT_EQ(old, ReadFileBytes(*options.extractPath));  // untrusted: nothing written
  EXPECT_EQ("not written: the signer is not trusted", report.extractError);
  EXPECT_EQ(kUntrusted, report.exitCode);

  options.pinnedSha256 = Sha256Thumbprint(signer.get());
  report = VerifySignedManifest(options);
  EXPECT_EQ(ManifestFor(kTwoFiles), ReadFileBytes(*options.extractPath));
  EXPECT_EQ(0, report.exitCode);
  for (const auto& entry : std::filesystem::directory_iterator(temp.Path()))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".brevick-"));

  options.extractPath = (temp.Path() / "no/such/dir/out.xml").string();
  report = VerifySignedManifest(options);
  EXPECT_EQ(kOutput, report.exitCode);
}

// Whatever name leads to it, an output never replaces the signed message,
// the other output or a module file of the package being checked.
TEST_F(VerifyTest, OutputsRefuseEveryFileTheCheckReads) {
  const std::string signedPath = SignPackage(kTwoFiles, signer.get(), TestRsaKey(0));
  const std::string module = PackageDir() + "/core/a.dll";
  const std::string out = (temp.Path() / "out.xml").string();
  std::filesystem::create_symlink(signedPath, temp.Path() / "signed-link");
  std::filesystem::create_hard_link(module, temp.Path() / "module-hard");
  const std::string signedLink = (temp.Path() / "signed-link").string();
  const std::string moduleHard = (temp.Path() / "module-hard").string();
  const std::string signedBytes = ReadFileBytes(signedPath);
  const std::string plainPath = WriteFile("plain.xml", ManifestFor(kTwoFiles));
  const struct {
    const char* name;
    std::optional<std::string> extract;
    std::optional<std::string> json;
    const char* extractError;
    const char* reportError;
  } cases[] = {
      // clang-format off
      {"extract over SIGNED", signedPath, {}, "it is the signed message", ""},
      {"json over SIGNED by a link", {}, signedLink, "", "it is the signed message"},
      {"json and extract one new file", out, temp.Path().string() + "/./out.xml", "it is also the --json report", "it is also the --extract file"},
      {"extract over a module file", module, {}, "it is a module file", ""},
      {"json over a module file by a hard link", {}, moduleHard, "", "it is a module file"},
      {"both elsewhere", out, out + ".json", "", ""},
      {"json over SIGNED that is no signed message", {}, plainPath, "", "it is the signed message"},
      // clang-format on
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    std::filesystem::remove(out);
    VerifyOptions options;
    options.signedPath = test.json == plainPath ? plainPath : signedPath;
    options.packageDirectory = PackageDir();
    options.pinnedSha256 = Sha256Thumbprint(signer.get());
    options.extractPath = test.extract;
    options.reportPath = test.json;
    const VerifyReport report = VerifySignedManifest(options);
    const auto holds = [](const std::string& text, const char* part) {
      return *part == '\0' ? text.empty() : text.find(part) != std::string::npos;
    };
    EXPECT_TRUE(holds(report.extractError, test.extractError)) << report.extractError;
    EXPECT_TRUE(holds(report.reportError, test.reportError)) << report.reportError;
    EXPECT_EQ(*test.extractError == '\0' && *test.reportError == '\0' ? 0 : kOutput,
              report.exitCode & ~kInvalid);
    EXPECT_EQ("alpha bytes", ReadFileBytes(module));
    EXPECT_EQ(signedBytes, ReadFileBytes(signedPath));
  }
}

// A package of many dependencies (100,000 in the long run) is checked whole.
TEST_F(VerifyTest, ManyThousandDependencies) {
  const int count = ShortOrLong(5000, 100000);
  std::string modules;
  for (int i = 0; i < count; ++i) {
    // Kept short: the signature's MD2 runs over the whole content twice.
    modules += "<dependency file=\"f" + std::to_string(i) + "\"/>";
  }
  const std::string manifest =
      "<dravanePackage><package><modules><module name=\"Big\"><dependencies>" + modules +
      "</dependencies></module></modules></package></dravanePackage>";
  std::filesystem::create_directories(PackageDir());
  WriteFile("pkg/f5", "five");
  VerifyOptions options;
  options.signedPath = WriteSigned(manifest, signer.get(), TestRsaKey(0));
  options.packageDirectory = PackageDir();
  const VerifyReport report = VerifySignedManifest(options);
  ASSERT_EQ(static_cast<std::size_t>(count), report.files.entries.size());
  EXPECT_EQ(FileStatus::kNoDigest, report.files.entries[5].status);
  EXPECT_EQ(FileStatus::kMissing, report.files.entries.back().status);
  EXPECT_EQ(kUntrusted | kFiles, report.exitCode);
}

// A thread swaps a package entry (the file, or a directory on its way)
// with a link of the same name to the outside, where a file matches the
// manifest, while the check runs again and again: the outside file must
// never be read, so no run may call the entry ok.
TEST_F(VerifyTest, EntrySwappedForALinkOutsideIsNeverRead) {
  const std::filesystem::path outside = temp.Path() / "outside";
  std::filesystem::create_directories(outside);
  WriteFile("outside/a.dll", "outside");
  const std::string digest = "<md5 value=\"0x" + Md5Hex("outside") + "\"/>";
  const struct {
    const char* name;
    const char* subPath;
    std::filesystem::path swapped;
    std::filesystem::path linkTarget;
  } cases[] = {
      {"file swapped", "", temp.Path() / "pkg/a.dll", outside / "a.dll"},
      {"directory swapped", "sub", temp.Path() / "pkg/sub", outside},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    std::filesystem::remove_all(PackageDir());
    VerifyOptions options;
    options.signedPath =
        SignPackage({{"M", test.subPath, "a.dll", "inside", digest}}, signer.get(), TestRsaKey(0));
    options.packageDirectory = PackageDir();
    options.jobs = 1;
    const std::filesystem::path spare = temp.Path() / "spare";
    std::filesystem::remove(spare);
    std::filesystem::create_symlink(test.linkTarget, spare);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      while (!stop.load())
        ::renameat2(AT_FDCWD, test.swapped.c_str(), AT_FDCWD, spare.c_str(), RENAME_EXCHANGE);
    });
    int readOutside = 0;
    for (int run = 0; run < 100; ++run) {
      const VerifyReport report = VerifySignedManifest(options);
      if (report.files.entries.size() == 1 && report.files.entries[0].status == FileStatus::kOk)
        ++readOutside;
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(0, readOutside);
  }
}

// Every SignerInfo counts: one bad signature beside a good one fails the
// message, and each is reported.
TEST_F(VerifyTest, EverySignerInfoIsChecked) {
  const std::string good = ReadFileBytes(WriteSigned("<x/>", signer.get(), TestRsaKey(0)));
  const struct {
    const char* name;
    void (*change)(PKCS7_SIGNER_INFO* second);
    bool valid;
    const char* error;
  } cases[] = {
      // clang-format off
      {"second a copy of the first", [](PKCS7_SIGNER_INFO*) {}, true, ""},
      {"second with a garbage signature", [](PKCS7_SIGNER_INFO* second) {second->enc_digest->data[second->enc_digest->length / 2] ^= 0x5A;}, false, " of 2: the signature does not match"},
      {"second names a certificate not carried", [](PKCS7_SIGNER_INFO* second) { ASN1_INTEGER_set(second->issuer_and_serial->serial, 999); }, false, " of 2: the message does not carry the signer's certificate"},
      // clang-format on
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    VerifyOptions options;
    options.signedPath = WriteFile("two.p7", WithSecondSignerInfo(good, test.change));
    options.pinnedSha256 = Sha256Thumbprint(signer.get());
    const VerifyReport report = VerifySignedManifest(options);
    EXPECT_EQ(test.valid, report.signature.valid);
    // DER sorts the SignerInfos as a set: either may come first.
    // "signer N of 2: ...", N either way.
    EXPECT_EQ(test.valid ? 0u : 8u, report.signature.error.find(test.error))
        << report.signature.error;
    ASSERT_EQ(2u, report.signers.size());
    EXPECT_EQ(test.valid ? 2 : 1, report.signers[0].valid + report.signers[1].valid);
    EXPECT_EQ(test.valid ? 0 : kInvalid, report.exitCode);
  }
}

// What `openssl cms -sign` makes (signed attributes: content type, message
// digest, signing time, capabilities) verifies as it is, its signing time
// reported; a changed content byte still fails against the message digest.
TEST_F(VerifyTest, OpensslCmsMessagesVerify) {
  const std::string content = WriteFile("content.xml", "<x>cms</x>");
  const std::string certificate = WriteFile("signer.pem", PemOf(signer.get()));
  const std::string key = WriteFile("signer.key", PemOf(TestRsaKey(0)));
  const struct {
    const char* name;
    const char* flags;
    bool tamper;
    bool valid;
    bool signingTime;
    const char* digest;
  } cases[] = {
      {"default attributes", "", false, true, true, "sha256"},
      {"no S/MIME capabilities", "-nosmimecap", false, true, true, "sha256"},
      {"no attributes at all", "-noattr", false, true, false, "sha256"},
      {"SHA-512 with attributes", "-md sha512", false, true, true, "sha512"},
      {"content byte changed", "", true, false, true, "sha256"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string out = (temp.Path() / "cms.p7").string();
    const std::string command = "openssl cms -sign -binary -nodetach -outform DER -in " + content +
                                " -signer " + certificate + " -inkey " + key + " -out " + out +
                                " " + test.flags;
    ASSERT_EQ(0, std::system(command.c_str()));
    if (test.tamper) {
      std::string bytes = ReadFileBytes(out);
      bytes[bytes.find("<x>cms") + 3] = 'C';
      WriteFile("cms.p7", bytes);
    }
    VerifyOptions options;
    options.signedPath = out;
    options.pinnedSha256 = Sha256Thumbprint(signer.get());
    options.extractPath = (temp.Path() / "cms.xml").string();
    std::filesystem::remove(*options.extractPath);
    const VerifyReport report = VerifySignedManifest(options);
    EXPECT_EQ(test.valid, report.signature.valid) << report.signature.error;
    EXPECT_EQ(test.digest, report.signature.digest);
    EXPECT_EQ(test.signingTime, report.signature.signingTime.size() == 20)
        << report.signature.signingTime;
    EXPECT_EQ(test.valid ? "<x>cms</x>" : "", ReadFileBytes(*options.extractPath));
  }
}

}  // namespace
}  // namespace brevick::testing
