// The verify library on real signed messages, certificates and files: one
// table per family of verdicts, one row per case.
#include "verify/verify.h"

#include <openssl/pkcs7.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "pki/certificate_info.h"
#include "tests/support/long_tests.h"
#include "tests/support/verify_fixture.h"

namespace brevick::testing {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::string>;

constexpr int kInvalid = static_cast<int>(VerifyFailure::kInvalidMessage);
constexpr int kUntrusted = static_cast<int>(VerifyFailure::kUntrusted);
constexpr int kFiles = static_cast<int>(VerifyFailure::kFilesDiffer);
constexpr int kOutput = static_cast<int>(VerifyFailure::kOutputFailed);

const std::vector<PackageFile> kTwoFiles = {{"Core", "core", "a.dll", "alpha bytes", ""},
                                            {"Core", "core", "b.cfg", "beta", ""}};

// The manifest element of digest `name` ("md5", "sha256", ...) over `bytes`.
std::string DigestElement(const char* name, const std::string& bytes) {
  return std::string("<") + name + " value=\"" + ShaHex(bytes, name) + "\"/>";
}

VerifyOptions OptionsFor(std::string signedPath, std::optional<std::string> directory = {}) {
  VerifyOptions options;
  options.signedPath = std::move(signedPath);
  options.packageDirectory = std::move(directory);
  return options;
}

bool Holds(const std::string& text, const std::string& part) {
  return part.empty() ? text.empty() : text.find(part) != std::string::npos;
}

class VerifyTest : public VerifyFixture {
 protected:
  // The package signed by the fixture's signer, whose thumbprint is pinned.
  VerifyOptions PinnedPackage(const std::vector<PackageFile>& files) {
    VerifyOptions options =
        OptionsFor(SignPackage(files, signer.get(), TestRsaKey(0)), PackageDir());
    options.pinnedSha256 = Sha256Thumbprint(signer.get());
    return options;
  }
};

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
  // Issued by the root (key 1), or by `issuer` (key 3); the subject's key is `key`.
  const auto issue = [&](const char* cn, CertSpec spec, X509* issuer = nullptr, int key = 0) {
    spec.issuer = issuer ? issuer : root.get();
    spec.issuerKey = TestRsaKey(issuer ? 3 : 1);
    return MakeCertificate(TestRsaKey(key), {{"CN", cn}}, spec);
  };
  const X509Ptr expired = issue(
      "Old",
      {.serial = 8, .notBeforeDays = -30, .notAfterDays = -1, .keyUsage = "digitalSignature"});
  const X509Ptr certSignOnly = issue("No Signing", {.serial = 9, .keyUsage = "keyEncipherment"});
  const X509Ptr serverOnly = issue("Server", {.serial = 10, .extendedKeyUsage = "serverAuth"});
  const X509Ptr middle = issue(
      "Middle", {.serial = 20, .basicConstraints = "critical,CA:TRUE", .keyUsage = "keyCertSign"},
      nullptr, 3);
  const X509Ptr leaf = issue("Leaf", {.serial = 21}, middle.get());
  const std::string rootPem = WriteFile("root.pem", PemOf(otherRoot.get()) + PemOf(root.get()));
  const std::string otherPem = WriteFile("other.pem", PemOf(otherRoot.get()));
  const std::string selfPem = WriteFile("self.pem", PemOf(selfSigned.get()));
  const std::string leafPem = WriteFile("leaf.pem", PemOf(leaf.get()));
  const std::string empty = WriteFile("empty.pem", "");
  const std::string broken = "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n";
  const std::string partlyBroken = WriteFile("partly.pem", PemOf(root.get()) + broken);
  const std::string huge = WriteFile("huge.pem", PemOf(root.get()));
  fs::resize_file(huge, (16u << 20) + 1);  // sparse: refused by its size before it is read
  const std::string pin = Sha256Thumbprint(signer.get());
  StoreHome home;
  home.AddFile("Anchors", "root.pem", PemOf(root.get()));
  X509* const ca = signer.get();
  X509* const self = selfSigned.get();
  X509* const none = nullptr;
  // clang-format off
  const struct { const char* name; X509* cert; X509* carried; Paths trustFiles; std::vector<std::wstring> stores; std::optional<std::string> pin; bool strict, trusted; const char* reasonPart; } cases[] = {
      {"CA-issued, root among several PEM anchors", ca, none, {rootPem}, {}, {}, false, true, "chains to CN=Test Root"},
      {"self-signed, itself as anchor", self, none, {selfPem}, {}, {}, false, true, "chains to CN=Self Signer"},
      {"root from a Brevick store", ca, none, {}, {L"anchors"}, {}, false, true, "store anchors"},
      {"self-signed against a CA", self, none, {rootPem}, {}, {}, false, false, "no chain to the anchors"},
      {"expired signer", expired.get(), none, {rootPem}, {}, {}, false, false, "certificate has expired"},
      {"no trust option", ca, none, {}, {}, {}, false, false, "not checked against any trust anchor"},
      {"intermediate not carried", leaf.get(), none, {rootPem}, {}, {}, false, false, "unable to get local issuer certificate"},
      {"intermediate carried in the message", leaf.get(), middle.get(), {rootPem}, {}, {}, false, true, "chains to CN=Test Root"},
      {"the leaf its own anchor: named, not the intermediate", leaf.get(), middle.get(), {leafPem}, {}, {}, false, true, "chains to CN=Leaf ("},
      {"pinned thumbprint", ca, none, {}, {}, pin, false, true, "pinned one"},
      {"another thumbprint pinned", self, none, {}, {}, pin, false, false, "is not the pinned one"},
      {"pinned but expired", expired.get(), none, {}, {}, Sha256Thumbprint(expired.get()), false, false, "pinned, but certificate has expired"},
      {"pin rescues a failed chain", ca, none, {otherPem}, {}, pin, false, true, "pinned one"},
      {"key usage without digitalSignature", certSignOnly.get(), none, {rootPem}, {}, {}, false, false, "does not allow digital signatures"},
      {"serverAuth only, lenient", serverOnly.get(), none, {rootPem}, {}, {}, false, true, "chains to"},
      {"serverAuth only, strict", serverOnly.get(), none, {rootPem}, {}, {}, true, false, "does not allow code signing"},
      {"empty trust file", ca, none, {empty, rootPem}, {}, {}, false, false, "empty.pem holds no certificate"},
      {"one broken block after a good one", ca, none, {partlyBroken}, {}, {}, false, false, "partly.pem does not decode"},
      {"trust file missing", ca, none, {rootPem + ".nope"}, {}, {}, false, false, "cannot be read (No such file"},
      {"store missing", ca, none, {}, {L"Nope"}, {}, false, false, "store Nope cannot be opened"},
      {"empty trust file beside a matching pin", ca, none, {empty}, {}, pin, false, false, "empty.pem holds no certificate"},
      {"trust file over 16 MiB", ca, none, {huge}, {}, {}, false, false, "huge.pem is larger than 16 MiB"},
      {"MD2 signature, strict", ca, none, {rootPem}, {}, {}, true, false, "but the signature uses MD2"},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    VerifyOptions options;
    options.signedPath =
        WriteSigned("<x/>", test.cert, TestRsaKey(test.cert == self ? 2 : 0), test.carried);
    options.trustFiles = test.trustFiles;
    options.trustStores = test.stores;
    options.pinnedSha256 = test.pin;
    options.strict = test.strict;
    const VerifyReport report = VerifySignedManifest(options);
    EXPECT_TRUE(report.signature.valid);
    // The signer is the one trust is about, not a certificate it carries.
    EXPECT_EQ(Sha256Thumbprint(test.cert), report.signer ? report.signer->sha256 : "");
    EXPECT_EQ(test.trusted, report.trust.trusted) << report.trust.reason;
    EXPECT_TRUE(Holds(report.trust.reason, test.reasonPart)) << report.trust.reason;
    EXPECT_EQ(test.trusted ? 0 : kUntrusted, report.exitCode);
  }
}

// A message that is no valid signed manifest stops before trust and files
// and is never extracted; a package that cannot be read sets the files bit.
TEST_F(VerifyTest, WhatCannotBeCheckedSaysWhy) {
  const std::string good = ReadFileBytes(SignPackage(kTwoFiles, signer.get(), TestRsaKey(0)));
  std::string tampered = good;
  tampered[tampered.find("dravanePackage")] = 'D';
  const std::string hugeHeader = std::string("\x30\x84\x7F\xFF\xFF\xFF", 6) + std::string(9000, 0);
  const auto sign = [&](const std::string& content) {
    return ReadFileBytes(WriteSigned(content, signer.get(), TestRsaKey(0)));
  };
  // A /proc file claims no size, so it never holds still while it is read.
  const std::string proc = ManifestFor({{"M", "", "status", "", DigestElement("md5", "")}});
  const std::string pkg = PackageDir();
  const std::string extract = (temp.Path() / "extracted.xml").string();
  // clang-format off
  const struct { const char* name; std::optional<std::string> bytes; std::string directory; std::string errorPart; int exitCode; } cases[] = {
      {"truncated", good.substr(0, good.size() - 10), pkg, "declares", kInvalid},
      {"one content byte changed", tampered, pkg, "does not match", kInvalid},
      {"plain XML", ManifestFor(kTwoFiles), pkg, "not a signed message", kInvalid},
      {"trailing bytes", good + "x", pkg, "but the file holds " + std::to_string(good.size() + 1), kInvalid},
      {"header cut short", "\x30\x84\x01", pkg, "cut short or malformed", kInvalid},
      {"header claims 2 GiB", hugeHeader, pkg, "declares 2147483653 bytes but the file holds 9006", kInvalid},
      {"no file at all", std::nullopt, pkg, "cannot be read: No such file or directory", kInvalid},
      {"package directory missing", good, pkg + "/nowhere", "No such file", kFiles},
      {"package directory is a file", good, pkg + "/core/a.dll", "not a directory", kFiles},
      {"content is not XML", sign("not xml at all"), pkg, "not XML", kFiles},
      {"content is XML but no manifest", sign("<html><body/></html>"), pkg, "has no package modules", kFiles},
      {"a file that changes while it is read", sign(proc), "/proc/self", "unreadable: The file changed while it was read", kFiles},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    fs::remove(extract);
    VerifyOptions options =
        OptionsFor(test.bytes ? WriteFile("bad.p7", *test.bytes) : pkg + ".p7", test.directory);
    options.trustFiles = {WriteFile("root.pem", PemOf(root.get()))};
    options.extractPath = extract;
    const VerifyReport report = VerifySignedManifest(options);
    std::string seen = report.signature.error + report.files.error;
    for (const FileEntry& e : report.files.entries)
      seen += FileStatusText(e.status) + (": " + e.detail);
    EXPECT_TRUE(Holds(seen, test.errorPart)) << seen;
    EXPECT_EQ(test.exitCode, report.exitCode);
    const bool invalid = test.exitCode == kInvalid;
    EXPECT_EQ(!invalid, report.signature.valid && report.trust.checked);
    EXPECT_FALSE(invalid && report.files.checked);
    EXPECT_EQ(invalid ? "the signature is not valid" : "", report.files.skipped);
    EXPECT_EQ(invalid ? "not written: the signature is not valid" : "", report.extractError);
    EXPECT_EQ(!invalid, fs::exists(extract));
  }
}

// Each case starts from a fresh, matching package and changes one thing.
// Every digest compared must be the file's own, of its own kind.
TEST_F(VerifyTest, FileStatusesAndTheFilesBit) {
  const std::string big(300000, 'e');
  const auto sha = DigestElement;
  const std::vector<PackageFile> digestMix = {
      {"M", "", "sha256-only.bin", "s", sha("sha256", "s")},
      {"M", "", "sha512-differs.bin", "t", sha("sha512", "not t")},
      {"M", "", "all.bin", big,
       sha("md5", big) + sha("sha256", big) + sha("sha384", big) + sha("sha512", big)},
      {"M", "", "sha384-and-sha512.bin", "x", sha("sha384", "x") + sha("sha512", "x")},
      {"M", "", "md5-ok-sha384-differs.bin", "y", sha("md5", "y") + sha("sha384", "z")},
      {"N", "sub\\deep", "upper.bin", "xx", "<md5 value=\"0X9336EBF25087D91C818EE6E9EC29F8C1\"/>"},
  };
  const std::vector<PackageFile> noDigest = {{"M", "", "plain.txt", "p", "<md5/>"}};
  // Named by the manifest only: never written, and never read, wherever they lead.
  const std::string md5 = DigestElement("md5", "outside");
  std::vector<PackageFile> outside = {{"N", "a\\..\\..", "secret.txt", "", md5}};
  for (const std::string& path :
       Paths{"..\\secret.txt", "..\\..\\..\\..\\etc\\passwd", WriteFile("secret.txt", "outside"),
             "C:\\secret.txt", "link.txt", "up\\secret.txt", "sibling.txt"})
    outside.push_back({"M", "", path, "", md5});
  WriteFile("pkg-x/secret.txt", "outside");
  // A package of many files (100,000 in the long run) is checked whole.
  std::vector<PackageFile> many(ShortOrLong(5000, 100000), {"M", "", "", "", "<md5/>"});
  for (std::size_t i = 0; i < many.size(); ++i) many[i].file = "f" + std::to_string(i);
  using enum FileStatus;
  using Change = void (*)(const fs::path& package);
  const Change keep = [](const fs::path&) {};
  // clang-format off
  // `placed`: the files are written into the package before it changes.
  const struct { const char* name; std::vector<PackageFile> files; bool placed; Change change; bool strict; std::vector<FileStatus> statuses; Paths extra; int exitCode; } cases[] = {
      {"all match", kTwoFiles, true, keep, true, {kOk, kOk}, {}, 0},
      {"one byte changed", kTwoFiles, true, [](const fs::path& p) { std::ofstream(p / "core/b.cfg") << "betA"; }, false, {kOk, kDiffers}, {}, kFiles},
      {"missing", kTwoFiles, true, [](const fs::path& p) { fs::remove(p / "core/a.dll"); }, false, {kMissing, kOk}, {}, kFiles},
      {"extra, lenient", kTwoFiles, true, [](const fs::path& p) { std::ofstream(p / "core/new.txt") << "x"; }, false, {kOk, kOk}, {"core/new.txt"}, 0},
      {"extra, strict", kTwoFiles, true, [](const fs::path& p) { std::ofstream(p / "stray") << "x"; }, true, {kOk, kOk}, {"stray"}, kFiles},
      {"the signed message itself inside, strict", kTwoFiles, true, [](const fs::path& p) { fs::create_hard_link(p.parent_path() / "signed.p7", p / "release.p7"); }, true, {kOk, kOk}, {}, 0},
      {"no digest, lenient", noDigest, true, keep, false, {kNoDigest}, {}, 0},
      {"no digest, strict", noDigest, true, keep, true, {kNoDigest}, {}, kFiles},
      {"no digest and missing", noDigest, true, [](const fs::path& p) { fs::remove(p / "plain.txt"); }, false, {kMissing}, {}, kFiles},
      {"FIFO as module file", kTwoFiles, true, [](const fs::path& p) { fs::remove(p / "core/a.dll"); ASSERT_EQ(0, ::mkfifo((p / "core/a.dll").c_str(), 0600)); }, false, {kUnreadable, kOk}, {}, kFiles},
      {"directory as module file", kTwoFiles, true, [](const fs::path& p) { fs::remove(p / "core/a.dll"); fs::create_directory(p / "core/a.dll"); }, false, {kUnreadable, kOk}, {}, kFiles},
      {"each digest kind compared on its own", digestMix, true, keep, false, {kOk, kDiffers, kOk, kOk, kDiffers, kOk}, {}, kFiles},
      {"many thousand files", many, false, [](const fs::path& p) { fs::create_directories(p); }, false, std::vector<FileStatus>(many.size(), kMissing), {}, kFiles},
      {"paths leaving the package", outside, false, [](const fs::path& p) { fs::create_directories(p); fs::create_symlink(p.parent_path() / "secret.txt", p / "link.txt"); fs::create_symlink(p.parent_path(), p / "up"); fs::create_symlink(p.parent_path() / "pkg-x/secret.txt", p / "sibling.txt"); }, false, std::vector<FileStatus>(8, kOutside), {"up"}, kFiles},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    fs::remove_all(PackageDir());
    VerifyOptions options =
        OptionsFor(test.placed ? SignPackage(test.files, signer.get(), TestRsaKey(0))
                               : WriteSigned(ManifestFor(test.files), signer.get(), TestRsaKey(0)),
                   PackageDir());
    options.pinnedSha256 = Sha256Thumbprint(signer.get());
    options.strict = test.strict;
    test.change(PackageDir());
    const VerifyReport report = VerifySignedManifest(options);
    std::vector<FileStatus> statuses;
    for (const FileEntry& entry : report.files.entries) {
      statuses.push_back(entry.status);
      std::string path = PackageDir() + "/" + entry.path;
      std::replace(path.begin(), path.end(), '\\', '/');
      // What was not hashed has no digest: nothing was read.
      const bool hashed = entry.status == kOk || entry.status == kDiffers;
      for (const DigestComparison& digest : entry.digests)
        EXPECT_EQ(hashed ? ShaHex(ReadFileBytes(path), DigestKindName(digest.kind)) : "",
                  digest.actual);
    }
    EXPECT_EQ(test.statuses, statuses);
    EXPECT_EQ(test.extra, report.files.extra);
    // The fixture signs with MD2, which --strict does not trust.
    EXPECT_EQ(test.exitCode | (test.strict ? kUntrusted : 0), report.exitCode);
  }
}

// Whatever name leads to it, an output never replaces the signed message,
// the other output or a module file of the package being checked; the
// content goes out only from a valid message of a trusted signer.
TEST_F(VerifyTest, OutputsAreWrittenOnlyWhenTrustedAndSafe) {
  const std::string signedPath = PinnedPackage(kTwoFiles).signedPath;
  const std::string module = PackageDir() + "/core/a.dll";
  const std::string out = (temp.Path() / "out.xml").string();
  const std::string signedLink = (temp.Path() / "signed-link").string();
  const std::string moduleHard = (temp.Path() / "module-hard").string();
  fs::create_symlink(signedPath, signedLink);
  fs::create_hard_link(module, moduleHard);
  const std::string signedBytes = ReadFileBytes(signedPath);
  const std::string plainPath = WriteFile("plain.xml", ManifestFor(kTwoFiles));
  const std::string sameOut = temp.Path().string() + "/./out.xml";
  // clang-format off
  const struct { const char* name; std::optional<std::string> extract, json; bool pinned; const char* extractError; const char* reportError; int exitCode; } cases[] = {
      {"extract, trusted", out, {}, true, "", "", 0},
      {"extract, untrusted", out, {}, false, "not written: the signer is not trusted", "", kUntrusted},
      {"extract into a missing directory", PackageDir() + "/no/out.xml", {}, true, "cannot write", "", kOutput},
      {"extract over SIGNED", signedPath, {}, true, "it is the signed message", "", kOutput},
      {"json over SIGNED by a link", {}, signedLink, true, "", "it is the signed message", kOutput},
      {"json and extract one new file", out, sameOut, true, "it is also the --json report", "it is also the --extract file", kOutput},
      {"extract over a module file", module, {}, true, "it is a module file", "", kOutput},
      {"json over a module file by a hard link", {}, moduleHard, true, "", "it is a module file", kOutput},
      {"both elsewhere", out, out + ".json", true, "", "", 0},
      {"json over SIGNED that is no signed message", {}, plainPath, true, "", "it is the signed message", kOutput | kInvalid},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    fs::remove(out);
    VerifyOptions options =
        OptionsFor(test.json == plainPath ? plainPath : signedPath, PackageDir());
    if (test.pinned) options.pinnedSha256 = Sha256Thumbprint(signer.get());
    options.extractPath = test.extract;
    options.reportPath = test.json;
    const VerifyReport report = VerifySignedManifest(options);
    EXPECT_TRUE(Holds(report.extractError, test.extractError)) << report.extractError;
    EXPECT_TRUE(Holds(report.reportError, test.reportError)) << report.reportError;
    EXPECT_EQ(test.exitCode, report.exitCode);
    const bool written = test.extract == out && !*test.extractError;
    EXPECT_EQ(written ? ManifestFor(kTwoFiles) : "", ReadFileBytes(out));
    EXPECT_EQ("alpha bytes", ReadFileBytes(module));
    EXPECT_EQ(signedBytes, ReadFileBytes(signedPath));
  }
  for (const auto& entry : fs::directory_iterator(temp.Path()))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".brevick-"));
}

// Every SignerInfo counts: one bad signature beside a good one fails the
// message, and the one that failed is named. What `openssl cms -sign` makes
// (signed attributes: content type, message digest, signing time,
// capabilities) verifies as it is, its signing time reported; a changed
// content byte still fails against the message digest.
TEST_F(VerifyTest, EverySignatureIsChecked) {
  const std::string ours = ReadFileBytes(WriteSigned("<x>cms</x>", signer.get(), TestRsaKey(0)));
  const auto twice = [&](void (*change)(PKCS7_SIGNER_INFO * second)) {
    return WithSecondSignerInfo(ours, change);
  };
  const std::string sign = "openssl cms -sign -binary -nodetach -outform DER -in " +
                           WriteFile("content.xml", "<x>cms</x>") + " -signer " +
                           WriteFile("signer.pem", PemOf(signer.get())) + " -inkey " +
                           WriteFile("signer.key", PemOf(TestRsaKey(0))) + " -out ";
  const auto cms = [&](const std::string& flags) {
    const std::string out = (temp.Path() / "cms.p7").string();
    EXPECT_EQ(0, std::system((sign + out + " " + flags).c_str()));
    return ReadFileBytes(out);
  };
  std::string tampered = cms("");
  tampered[tampered.find("<x>cms") + 3] = 'C';
  // clang-format off
  const struct { const char* name; std::string bytes; const char* error; const char* digest; bool signingTime; } cases[] = {
      {"second a copy of the first", twice([](PKCS7_SIGNER_INFO*) {}), "", "md2", false},
      {"second with a garbage signature", twice([](PKCS7_SIGNER_INFO* second) { second->enc_digest->data[second->enc_digest->length / 2] ^= 0x5A; }), " of 2: the signature does not match", "md2", false},
      {"second names a certificate not carried", twice([](PKCS7_SIGNER_INFO* second) { ASN1_INTEGER_set(second->issuer_and_serial->serial, 999); }), " of 2: the message does not carry the signer's certificate", "md2", false},
      {"openssl cms, default attributes", cms(""), "", "sha256", true},
      {"openssl cms, no attributes at all", cms("-noattr"), "", "sha256", false},
      {"openssl cms, SHA-512", cms("-md sha512"), "", "sha512", true},
      {"openssl cms, a content byte changed", tampered, "the signature does not match", "sha256", true},
  };
  // clang-format on
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    VerifyOptions options = OptionsFor(WriteFile("message.p7", test.bytes));
    options.pinnedSha256 = Sha256Thumbprint(signer.get());
    options.extractPath = (temp.Path() / "content.out").string();
    fs::remove(*options.extractPath);
    const VerifyReport report = VerifySignedManifest(options);
    const bool valid = *test.error == '\0';
    EXPECT_EQ(valid, report.signature.valid);
    EXPECT_TRUE(Holds(report.signature.error, test.error)) << report.signature.error;
    // DER sorts the SignerInfos as a set: either may be the bad one.
    const auto bad = std::find_if(report.signers.begin(), report.signers.end(),
                                  [](const VerifyReport::SignerResult& s) { return !s.valid; });
    const std::string named = "signer " + std::to_string(bad - report.signers.begin() + 1);
    EXPECT_TRUE(report.signers.size() < 2 || valid || report.signature.error.starts_with(named));
    EXPECT_EQ(test.digest, report.signature.digest);
    EXPECT_EQ(test.signingTime, report.signature.signingTime.size() == 20);
    EXPECT_EQ(valid ? "<x>cms</x>" : "", ReadFileBytes(*options.extractPath));
    EXPECT_EQ(valid ? 0 : kInvalid, report.exitCode);
  }
}

}  // namespace
}  // namespace brevick::testing
