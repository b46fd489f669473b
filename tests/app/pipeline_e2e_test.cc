// Whole runs of the built executable on real manifests, module files and a
// throwaway certificate store: the console, the exit code and the output file;
// and, in the pipeline's own terms, the manifest's directory as paths are
// written on either system, and reading a manifest that is no ordinary file.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "app/pipeline.h"
#include "app/run_settings.h"
#include "base/report.h"
#include "base/utf8.h"
#include "cms/signed_message.h"
#include "pki/crypto_result.h"
#include "tests/support/bytes.h"
#include "tests/support/manifest_helpers.h"
#include "tests/support/signing_run.h"
#include "xml/document.h"

namespace brevick::testing {
namespace {

constexpr const char* kSubject = kRunSigner;

// A developer manifest: one module with a file found through its subPath and
// one through %SourceRoot%. `destination` lets a test break a rule.
std::string Manifest(const std::string& root = "dravanePackage",
                     const std::string& destination = "shared") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root +
         "><package name=\"P\" id=\"{1}\" mode=\"debug\"><modules><module name=\"A\" id=\"{2}\" "
         "host=\"Engine\" subPath=\"bin\" debugPath=\"d\"><dependencies><dependency file=\"a.dll\" "
         "entryPoint=\"1\"><destination value=\"local\"/><md5/></dependency><dependency "
         "file=\"b.dat\" entryPoint=\"0\"><destination value=\"" +
         destination +
         "\"/><signInfo path=\"%SourceRoot%\\res\"/><md5 value=\"old\"/></dependency>"
         "</dependencies></module></modules></package></" +
         root + ">\n";
}

// What the writer makes of Manifest() once prepared: developer information
// gone, both digests filled in, the writer's own line breaks and indentation.
std::string ReleaseManifest(const std::string& destination = "shared") {
  auto at = [](int level) { return "\n" + std::string(4 * level, ' '); };
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dravanePackage>" + at(1) +
         "<package name=\"P\" id=\"{1}\">" + at(2) + "<modules>" + at(3) +
         "<module name=\"A\" id=\"{2}\" host=\"Engine\" subPath=\"bin\">" + at(4) +
         "<dependencies>" + at(5) + "<dependency file=\"a.dll\" entryPoint=\"1\">" + at(6) +
         "<destination value=\"local\"/>" + at(6) +
         "<md5 value=\"0x900150983cd24fb0d6963f7d28e17f72\"/>" + at(5) + "</dependency>" + at(5) +
         "<dependency file=\"b.dat\" entryPoint=\"0\">" + at(6) + "<destination value=\"" +
         destination + "\"/>" + at(6) + "<md5 value=\"0xd41d8cd98f00b204e9800998ecf8427e\"/>" +
         at(5) + "</dependency>" + at(4) + "</dependencies>" + at(3) + "</module>" + at(2) +
         "</modules>" + at(1) + "</package>" + at(0) + "</dravanePackage>";
}

// `text` with its first `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

const std::string kProgress =
    "Reading manifest: m.xml\nValidating XML for package 'P'\nValidating XML for module 'A'\n"
    "Removing developer information from <P> package.\n"
    "Removing developer information from <A> module.\n"
    "Generating dependencing hashes for module files\nGenerating hashes for files in module 'A'.\n";
const std::string kHashed = "Generated MD5 for bin\\a.dll\nGenerated MD5 for src\\res\\b.dat\n";
const std::string kRule =
    "Invalid <destination> value. Valid values are 'local' 'system' and 'shared'\n";

// m.xml and its module files, and beside them one input of each kind a run
// refuses or warns of.
class PipelineEndToEndTest : public SigningRunTest {
 protected:
  void SetUp() override {
    work.WriteFile("bin/a.dll", "abc");
    work.WriteFile("src/res/b.dat", "");
    work.WriteFile("m.xml", Manifest());
    work.WriteFile("rule.xml", Manifest("dravanePackage", "Local"));
    work.WriteFile("attrs.xml", Replaced(Replaced(Manifest(), "<md5/>", "<md5 kind=\"k\"/>"),
                                         "\"old\"/>", "\"old\" z=\"&amp;\"/>"));
    work.WriteFile("wrong-root.xml", Manifest("DravanePackage"));
    work.WriteFile("broken.xml", "<dravanePackage>\n<package>\n</dravanePackage>");
    work.WriteFile("no-dll.xml", ReadFileBytes(work.Path() / "m.xml"));
    std::filesystem::create_directory(work.Path() / "folder.xml");
    std::filesystem::create_directory(work.Path() / "dir.dll");
    work.WriteFile("dir.xml", ManifestNaming("dir.dll"));
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    work.WriteFile("deep.xml", deep);  // no crash on the real stack
    std::filesystem::create_directory_symlink(work.Path() / "bin", work.Path() / "bin-link");
  }

  // The signed content of the output file, after checking its signature.
  std::string VerifiedContent() const {
    std::vector<std::uint8_t> content;
    EXPECT_EQ(CryptoResult::kOk, VerifySignedMessage(Bytes(ReadFileBytes(Out())), content));
    return std::string(content.begin(), content.end());
  }
};

// The console of each run, its exit code and what it left at the output: a
// broken rule that does not stop still signs (and fails); every stop before
// signing, even on hostile input, keeps the previous release and leaves no
// temporary file; a dry run signs nothing and writes the text only where asked.
TEST_F(PipelineEndToEndTest, EachRunPrintsItsProgressAndSignsOnlyWhatItShould) {
  const std::string b = Banner(), failed = b + "\nThere were errors:\n", done = b + "\nDone\n";
  const std::string noDll = "Error generating MD5 for 'bin\\a.dll'. Check that it exists\n";
  const std::string nobody = "Could not find the specified signing certificate.\n";
  const std::string signing = kProgress + kHashed + "Signing and writing manifest: out.p7\n";
  const struct {
    std::vector<std::string> args;
    std::string output;
    int exitCode;
    std::string signedText;  // empty: the previous release stays
  } cases[] = {
      // clang-format off
      {{"-P", "-R", "src", "m.xml", "out.p7", "run signer"}, b + signing + "\nDone\n", 0, ReleaseManifest()},
      {{"-R", "src", "rule.xml", "out.p7", kSubject}, failed + kRule, 1, ReleaseManifest("Local")},
      {{"-R", "src", "attrs.xml", "out.p7", kSubject}, done, 0, Replaced(Replaced(ReleaseManifest(), "<md5 value=\"0x9", "<md5 kind=\"k\" value=\"0x9"), "27e\"/>", "27e\" z=\"&amp;\"/>")},
      {{"folder.xml", "out.p7", kSubject}, failed + "Failed to open folder.xml. Is a directory\n", 1, ""},
      {{"broken.xml", "out.p7", kSubject}, failed + "XML parse error in file broken.xml [The end tag has not the same name as the start tag]\n", 1, ""},
      {{"wrong-root.xml", "out.p7", kSubject}, failed + "Opening <dravanePackage> element not found\n", 1, ""},
      {{"deep.xml", "out.p7", kSubject}, failed + "XML parse error in file deep.xml [Elements are nested too deeply]\n", 1, ""},
      {{"dir.xml", "out.p7", kSubject}, failed + "Error generating MD5 for 'dir.dll'. Check that it exists\n", 1, ""},
      {{"-R", "src", "m.xml", "bin/a.dll/out.p7", kSubject}, failed + "Failed to open bin/a.dll/out.p7 Not a directory\n", 1, ""},
      {{"m.xml", "out.p7", kSubject}, failed + "Error generating MD5 for '.\\res\\b.dat'. Check that it exists\n", 1, ""},  // %SourceRoot% is "."
      {{"-R", "src", "m.xml", "out.p7", "nobody"}, failed + nobody, 1, ""},
      {{"-R", "src", "--confine", "src", "--confine", "bin-link", "m.xml", "out.p7", kSubject}, done, 0, ReleaseManifest()},
      {{"-R", "src", "--confine", "src", "m.xml", "out.p7", kSubject}, failed + "Error generating MD5 for 'bin\\a.dll'. It lies outside the confined directories\n", 1, ""},
      {{"-R", "src", "-S", "Other", "m.xml", "out.p7", kSubject}, failed + "Can't open certificate store\n", 1, ""},
      {{"-R", "src", "--strict", "rule.xml", "out.p7", kSubject}, failed + kRule + "Refusing to sign: the manifest breaks the package rules (--strict)\n", 1, ""},
      {{"-R", "src", "--thumbprint", std::string(64, 'a'), "m.xml", "out.p7"}, failed + nobody, 1, ""},
      {{"-R", "src", "--dry-run", "m.xml"}, done, 0, ""},
      {{"-R", "src", "--dry-run", "--print", "m.xml", "out.p7", "run signer"}, done + ReleaseManifest(), 0, ""},
      {{"-R", "src", "--dry-run", "--quiet", "--print", "m.xml"}, ReleaseManifest(), 0, ""},
      {{"-R", "src", "--dry-run", "--text=text.xml", "-P", "m.xml", "out.p7", kSubject}, b + signing + "\nDone\n", 0, ""},
      {{"-R", "src", "--dry-run", "--print", "m.xml", "out.p7", "nobody"}, failed + nobody + ReleaseManifest(), 1, ""},
      {{"-R", "src", "--dry-run", "--text", "m.xml", "m.xml"}, failed + "Refusing to overwrite m.xml: it is the input manifest\n", 1, ""},
      {{"-P", "-R", "src", "no-dll.xml", "out.p7", kSubject}, b + "Reading manifest: no-dll.xml\n" + kProgress.substr(24) + noDll + "Generated MD5 for src\\res\\b.dat\nNot generating new manifest due to errors\n\nThere were errors:\n" + noDll, 1, ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    if (std::ranges::count(c.args, "no-dll.xml") != 0) {
      std::filesystem::remove(work.Path() / "bin/a.dll");  // last row
    }
    work.WriteFile("out.p7", "the previous release");
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(c.output, result.output);
    EXPECT_EQ(c.exitCode, result.exitCode);
    if (c.signedText.empty()) {
      EXPECT_EQ("the previous release", Read("out.p7"));
    } else {
      EXPECT_EQ(c.signedText, VerifiedContent());
    }
    for (const auto& entry : std::filesystem::directory_iterator(work.Path()))
      EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".brevick-"));
  }
  EXPECT_EQ(ReleaseManifest(), Read("text.xml"));
  EXPECT_EQ(Manifest(), Read("m.xml"));
}

// Argument bytes that are not UTF-8 name the file of exactly those bytes,
// never the one their console display would name.
TEST_F(PipelineEndToEndTest, AnOutputPathThatIsNotUtf8IsWrittenByItsOwnBytes) {
  work.WriteFile("out\xEF\xBF\xBD.p7", "another file");
  const ProcessResult result = Run({"-P", "-R", "src", "m.xml", "out\xFF.p7", kSubject});
  EXPECT_EQ(0, result.exitCode);
  EXPECT_NE(std::string::npos,
            result.output.find("Signing and writing manifest: out\xEF\xBF\xBD.p7\n"));
  EXPECT_EQ("another file", Read("out\xEF\xBF\xBD.p7"));
  std::filesystem::rename(work.Path() / "out\xFF.p7", Out());
  EXPECT_EQ(ReleaseManifest(), VerifiedContent());
}

TEST(ManifestDirectoryTest, CutsTheLastSeparatorAndADoubledBackslash) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\pkg\\m.xml", L"C:\\pkg"},
      {L"m.xml", L""},
      {L"pkg\\\\m.xml", L"pkg"},
      {L"pkg/sub/m.xml", L"pkg/sub"},
      {L"/m.xml", L""},
      {L"C:\\pkg\\", L"C:"},  // trailing separators are skipped first
      {L"\\\\\\", L""},       // only separators: nothing outside the text
  };
  for (const auto& [path, directory] : cases) EXPECT_EQ(directory, ManifestDirectory(path));
}

// A manifest is read as one regular file: a path with backslashes opens as
// with slashes; a pipe is refused without waiting for a writer, and a file
// whose length needs more than 32 bits is refused before it is read.
TEST(ReadManifestTest, ReadsARegularFileAndRefusesAPipeAndAHugeFile) {
  const TempDir dir;
  const ConsoleCapture restoresVerbosity;
  SetVerbosity({.showProgress = true, .showDebug = true});
  dir.WriteFile("sub/m.xml", "<a/>");
  dir.WriteFile("sparse-5GiB.xml", "");
  std::filesystem::resize_file(dir.Path() / "sparse-5GiB.xml", 5ull << 30);
  ASSERT_EQ(0, mkfifo((dir.Path() / "pipe.xml").c_str(), 0600));
  const std::wstring base = ToWide(dir.Path().string());
  const struct {
    std::wstring path;
    std::string length;  // the progress line before any error
    std::wstring error;
  } cases[] = {
      // clang-format off
      {base + L"\\sub\\m.xml", "4", L""},
      {base + L"/pipe.xml", "", L"Failed to open " + base + L"/pipe.xml. Not a regular file"},
      {base + L"/sparse-5GiB.xml", "5368709120", L"Error reading in the file " + base + L"/sparse-5GiB.xml [File too large]"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.path));
    const ConsoleCapture console;
    EXPECT_EQ(c.error.empty(), ReadManifest(c.path) != nullptr);
    EXPECT_EQ((c.length.empty() ? "" : "  Length of file: " + c.length + " bytes\n") +
                  (c.error.empty() ? "" : ToUtf8(c.error) + "\n"),
              console.Text());
    EXPECT_EQ(c.error.empty() ? std::vector<std::wstring>{} : std::vector{c.error}, Errors());
  }
}

}  // namespace
}  // namespace brevick::testing
