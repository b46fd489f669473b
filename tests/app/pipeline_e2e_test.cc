// Whole runs of the built executable on real manifests, module files and a
// throwaway certificate store: the console, the exit code and the output file.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "cms/signed_message.h"
#include "pki/crypto_result.h"
#include "tests/support/process.h"
#include "tests/support/signing_certs.h"
#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

constexpr const char* kSubject = "Pipeline Test Signer";
constexpr const char* kMd5OfAbc = "0x900150983cd24fb0d6963f7d28e17f72";
constexpr const char* kMd5OfEmpty = "0xd41d8cd98f00b204e9800998ecf8427e";

// An indented developer manifest: one module with a file found through its
// subPath and one through %SourceRoot%. `destination` lets a test break a rule.
std::string Manifest(const std::string& root = "dravanePackage",
                     const std::string& destination = "shared") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<" +
         root +
         ">\n"
         "  <package name=\"P\" id=\"{1}\" mode=\"debug\">\n"
         "    <modules>\n"
         "      <module name=\"A\" id=\"{2}\" host=\"Engine\" subPath=\"bin\" debugPath=\"d\">\n"
         "        <dependencies>\n"
         "          <dependency file=\"a.dll\" entryPoint=\"1\">\n"
         "            <destination value=\"local\"/>\n"
         "            <md5/>\n"
         "          </dependency>\n"
         "          <dependency file=\"b.dat\" entryPoint=\"0\">\n"
         "            <destination value=\"" +
         destination +
         "\"/>\n"
         "            <signInfo path=\"%SourceRoot%\\res\"/>\n"
         "            <md5 value=\"old\"/>\n"
         "          </dependency>\n"
         "        </dependencies>\n"
         "      </module>\n"
         "    </modules>\n"
         "  </package>\n"
         "</" +
         root + ">\n";
}

// What the writer makes of Manifest() once prepared: whitespace runs become one
// blank, line breaks and four-blank indentation are the writer's own, and the
// removed signInfo leaves its two neighbouring blanks side by side.
std::string ReleaseManifest(const std::string& destination = "shared") {
  const std::string in(4, ' ');
  auto at = [&](int level) {
    std::string s = "\n";
    for (int i = 0; i < level; ++i) s += in;
    return s;
  };
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<dravanePackage> " +
         at(1) + "<package name=\"P\" id=\"{1}\"> " + at(2) + "<modules> " + at(3) +
         "<module name=\"A\" id=\"{2}\" host=\"Engine\" subPath=\"bin\"> " + at(4) +
         "<dependencies> " + at(5) + "<dependency file=\"a.dll\" entryPoint=\"1\"> " + at(6) +
         "<destination value=\"local\"/> " + at(6) + "<md5 value=\"" + kMd5OfAbc + "\"/> " + at(5) +
         "</dependency> " + at(5) + "<dependency file=\"b.dat\" entryPoint=\"0\"> " + at(6) +
         "<destination value=\"" + destination + "\"/>  " + at(6) + "<md5 value=\"" + kMd5OfEmpty +
         "\"/> " + at(5) + "</dependency> " + at(4) + "</dependencies> " + at(3) + "</module> " +
         at(2) + "</modules> " + at(1) + "</package> " + at(0) + "</dravanePackage>";
}

const std::string kProgress =
    "Reading manifest: m.xml\n"
    "Validating XML for package 'P'\n"
    "Validating XML for module 'A'\n"
    "Removing developer information from <P> package.\n"
    "Removing developer information from <A> module.\n"
    "Generating dependencing hashes for module files\n"
    "Generating hashes for files in module 'A'.\n";

class PipelineEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    certificate = MakeCertificate(TestRsaKey(0), {{"O", "Example"}, {"CN", kSubject}});
    stores.AddPemWithKey("My", "signer.pem", certificate.get(), TestRsaKey(0));
    package.WriteFile("bin/a.dll", "abc");
    package.WriteFile("src/res/b.dat", "");
  }

  ProcessResult Run(std::vector<std::string> args) {
    return RunBrevick(args, {.workingDirectory = package.Path().string(),
                             .env = {{"HOME", stores.Root().string()}}});
  }

  std::filesystem::path Output() const { return package.Path() / "out.p7"; }

  // The signed content of the output file, after checking its signature.
  std::string VerifiedContent() const {
    const std::string message = ReadFileBytes(Output());
    std::vector<std::uint8_t> content;
    const CryptoResult code = VerifySignedMessage(
        std::span(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()), content);
    EXPECT_EQ(CryptoResult::kOk, code);
    return std::string(content.begin(), content.end());
  }

  StoreHome stores;
  TempDir package;
  X509Ptr certificate;
};

TEST_F(PipelineEndToEndTest, CleanRunSignsTheReleaseManifest) {
  package.WriteFile("m.xml", Manifest());
  const ProcessResult result = Run({"-P", "-R", "src", "m.xml", "out.p7", "test signer"});
  EXPECT_EQ(Banner() + kProgress +
                "Generated MD5 for bin\\a.dll\n"
                "Generated MD5 for src\\res\\b.dat\n"
                "Signing and writing manifest: out.p7\n"
                "\nDone\n",
            result.output);
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ(ReleaseManifest(), VerifiedContent());
}

TEST_F(PipelineEndToEndTest, ValidationErrorThatDoesNotStopStillSignsButFails) {
  package.WriteFile("m.xml", Manifest("dravanePackage", "Local"));
  const ProcessResult result = Run({"-R", "src", "m.xml", "out.p7", kSubject});
  EXPECT_EQ(Banner() +
                "\nThere were errors:\n"
                "Invalid <destination> value. Valid values are 'local' 'system' and 'shared'\n",
            result.output);
  EXPECT_EQ(1, result.exitCode);
  EXPECT_EQ(ReleaseManifest("Local"), VerifiedContent());
}

TEST_F(PipelineEndToEndTest, EachStopBeforeSigningLeavesNoOutput) {
  package.WriteFile("m.xml", Manifest());
  package.WriteFile("wrong-root.xml", Manifest("DravanePackage"));
  package.WriteFile("broken.xml", "<dravanePackage>\n<package>\n</dravanePackage>");
  std::filesystem::create_directory(package.Path() / "folder.xml");
  const struct {
    std::vector<std::string> args;
    std::string errors;
  } cases[] = {
      // clang-format off
      {{"missing.xml", "out.p7", kSubject}, "Failed to open missing.xml. No such file or directory\n"},
      {{"folder.xml", "out.p7", kSubject}, "Failed to open folder.xml. Is a directory\n"},
      {{"broken.xml", "out.p7", kSubject}, "XML parse error in file broken.xml [The end tag has not the same name as the start tag]\n"},
      {{"wrong-root.xml", "out.p7", kSubject}, "Opening <dravanePackage> element not found\n"},
      // Without -R, %SourceRoot% is "." and b.dat is not found there.
      {{"m.xml", "out.p7", kSubject}, "Error generating MD5 for '.\\res\\b.dat'. Check that it exists\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const ProcessResult result = Run(c.args);
    EXPECT_EQ(Banner() + "\nThere were errors:\n" + c.errors, result.output);
    EXPECT_EQ(1, result.exitCode);
    EXPECT_FALSE(std::filesystem::exists(Output()));
  }
}

TEST_F(PipelineEndToEndTest, MissingModuleFileStopsWithProgressExplained) {
  package.WriteFile("m.xml", Manifest());
  std::filesystem::remove(package.Path() / "bin/a.dll");
  const ProcessResult result = Run({"-P", "-R", "src", "m.xml", "out.p7", kSubject});
  const std::string error = "Error generating MD5 for 'bin\\a.dll'. Check that it exists\n";
  EXPECT_EQ(Banner() + kProgress + error +
                "Generated MD5 for src\\res\\b.dat\n"
                "Not generating new manifest due to errors\n"
                "\nThere were errors:\n" +
                error,
            result.output);
  EXPECT_EQ(1, result.exitCode);
  EXPECT_FALSE(std::filesystem::exists(Output()));
}

// A re-run that fails, whatever fails, keeps the good signed release (or
// leaves nothing where there was nothing), and no temporary file.
TEST_F(PipelineEndToEndTest, AFailedSigningRunLeavesTheOutputAsItWas) {
  package.WriteFile("m.xml", Manifest());
  package.WriteFile("broken-rule.xml", Manifest("dravanePackage", "Local"));
  ASSERT_EQ(0, Run({"-R", "src", "m.xml", "out.p7", kSubject}).exitCode);
  const std::string previous = ReadFileBytes(Output());
  const std::string rule =
      "Invalid <destination> value. Valid values are 'local' 'system' and 'shared'\n";
  const struct {
    std::vector<std::string> args;
    std::string errors;
  } cases[] = {
      // clang-format off
      {{"m.xml", "out.p7", "nobody"}, "Could not find the specified signing certificate.\n"},
      {{"-S", "Other", "m.xml", "out.p7", kSubject}, "Can't open certificate store\n"},
      {{"--strict", "broken-rule.xml", "out.p7", kSubject}, rule + "Refusing to sign: the manifest breaks the package rules (--strict)\n"},
      {{"--thumbprint", std::string(64, 'a'), "m.xml", "out.p7"}, "Could not find the specified signing certificate.\n"},
      // clang-format on
  };
  for (const bool existed : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::PrintToString(c.args) + (existed ? " over a release" : ""));
      if (existed) package.WriteFile("out.p7", previous);
      std::vector<std::string> args = {"-R", "src"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      const ProcessResult result = Run(args);
      EXPECT_EQ(Banner() + "\nThere were errors:\n" + c.errors, result.output);
      EXPECT_EQ(1, result.exitCode);
      if (existed) {
        EXPECT_EQ(previous, ReadFileBytes(Output()));
      } else {
        EXPECT_FALSE(std::filesystem::exists(Output()));
      }
      for (const auto& entry : std::filesystem::directory_iterator(package.Path()))
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".brevick-"));
    }
    std::filesystem::remove(Output());
  }
}

// A dry run reports as a run would and writes the text only where asked.
TEST_F(PipelineEndToEndTest, DryRunSignsNothingAndWritesNoOutput) {
  package.WriteFile("m.xml", Manifest());
  const std::string done = "\nDone\n";
  const struct {
    std::vector<std::string> args;
    std::string output;
    int exitCode;
  } cases[] = {
      // clang-format off
      {{"--dry-run", "m.xml"}, Banner() + done, 0},
      {{"--dry-run", "--print", "m.xml", "out.p7", "test signer"}, Banner() + done + ReleaseManifest(), 0},
      {{"--dry-run", "--quiet", "--print", "m.xml"}, ReleaseManifest(), 0},
      {{"--dry-run", "--text=text.xml", "-P", "m.xml", "out.p7", kSubject}, Banner() + kProgress + "Generated MD5 for bin\\a.dll\nGenerated MD5 for src\\res\\b.dat\nSigning and writing manifest: out.p7\n" + done, 0},
      {{"--dry-run", "--print", "m.xml", "out.p7", "nobody"}, Banner() + "\nThere were errors:\nCould not find the specified signing certificate.\n" + ReleaseManifest(), 1},
      {{"--dry-run", "--text", "m.xml", "m.xml"}, Banner() + "\nThere were errors:\nRefusing to overwrite m.xml: it is the input manifest\n", 1},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::vector<std::string> args = {"-R", "src"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult result = Run(args);
    EXPECT_EQ(c.output, result.output);
    EXPECT_EQ(c.exitCode, result.exitCode);
    EXPECT_FALSE(std::filesystem::exists(Output()));
  }
  EXPECT_EQ(ReleaseManifest(), ReadFileBytes(package.Path() / "text.xml"));
  EXPECT_EQ(Manifest(), ReadFileBytes(package.Path() / "m.xml"));
}

// Argument bytes that are not UTF-8 name the file of exactly those bytes,
// never the one their console display would name.
TEST_F(PipelineEndToEndTest, AnOutputPathThatIsNotUtf8IsWrittenByItsOwnBytes) {
  package.WriteFile("m.xml", Manifest());
  package.WriteFile("out\xEF\xBF\xBD.p7", "another file");
  const ProcessResult result = Run({"-P", "-R", "src", "m.xml", "out\xFF.p7", kSubject});
  EXPECT_EQ(0, result.exitCode);
  EXPECT_NE(std::string::npos,
            result.output.find("Signing and writing manifest: out\xEF\xBF\xBD.p7\n"));
  EXPECT_EQ("another file", ReadFileBytes(package.Path() / "out\xEF\xBF\xBD.p7"));
  std::filesystem::rename(package.Path() / "out\xFF.p7", Output());
  EXPECT_EQ(ReleaseManifest(), VerifiedContent());
}

TEST_F(PipelineEndToEndTest, DebugShowsTheLengthOfTheManifest) {
  package.WriteFile("m.xml", std::string(1230, ' ') + "<a/>");
  const ProcessResult result = Run({"-D", "m.xml", "out.p7", kSubject});
  EXPECT_NE(std::string::npos,
            result.output.find("Reading manifest: m.xml\n  Length of file: 1234 bytes\n"));
  EXPECT_EQ(1, result.exitCode);
}

}  // namespace
}  // namespace brevick::testing
