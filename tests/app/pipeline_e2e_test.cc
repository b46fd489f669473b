// Whole runs of the built executable on real manifests, module files and a
// throwaway certificate store: the console, the exit code and the output file.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "cms/signed_message.h"
#include "pki/crypto_result.h"
#include "tests/support/bytes.h"
#include "tests/support/signing_run.h"

namespace brevick::testing {
namespace {

constexpr const char* kSubject = kRunSigner;
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

class PipelineEndToEndTest : public SigningRunTest {
 protected:
  void SetUp() override {
    work.WriteFile("bin/a.dll", "abc");
    work.WriteFile("src/res/b.dat", "");
  }

  // The signed content of the output file, after checking its signature.
  std::string VerifiedContent() const {
    std::vector<std::uint8_t> content;
    EXPECT_EQ(CryptoResult::kOk, VerifySignedMessage(Bytes(ReadFileBytes(Out())), content));
    return std::string(content.begin(), content.end());
  }
};

TEST_F(PipelineEndToEndTest, CleanRunSignsTheReleaseManifest) {
  work.WriteFile("m.xml", Manifest());
  const ProcessResult result = Run({"-P", "-R", "src", "m.xml", "out.p7", "run signer"});
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
  work.WriteFile("m.xml", Manifest("dravanePackage", "Local"));
  const ProcessResult result = Run({"-R", "src", "m.xml", "out.p7", kSubject});
  EXPECT_EQ(Banner() +
                "\nThere were errors:\n"
                "Invalid <destination> value. Valid values are 'local' 'system' and 'shared'\n",
            result.output);
  EXPECT_EQ(1, result.exitCode);
  EXPECT_EQ(ReleaseManifest("Local"), VerifiedContent());
}

TEST_F(PipelineEndToEndTest, EachStopBeforeSigningLeavesNoOutput) {
  work.WriteFile("m.xml", Manifest());
  work.WriteFile("wrong-root.xml", Manifest("DravanePackage"));
  work.WriteFile("broken.xml", "<dravanePackage>\n<package>\n</dravanePackage>");
  std::filesystem::create_directory(work.Path() / "folder.xml");
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
    EXPECT_FALSE(std::filesystem::exists(Out()));
  }
}

TEST_F(PipelineEndToEndTest, MissingModuleFileStopsWithProgressExplained) {
  work.WriteFile("m.xml", Manifest());
  std::filesystem::remove(work.Path() / "bin/a.dll");
  const ProcessResult result = Run({"-P", "-R", "src", "m.xml", "out.p7", kSubject});
  const std::string error = "Error generating MD5 for 'bin\\a.dll'. Check that it exists\n";
  EXPECT_EQ(Banner() + kProgress + error +
                "Generated MD5 for src\\res\\b.dat\n"
                "Not generating new manifest due to errors\n"
                "\nThere were errors:\n" +
                error,
            result.output);
  EXPECT_EQ(1, result.exitCode);
  EXPECT_FALSE(std::filesystem::exists(Out()));
}

// A re-run that fails, whatever fails, keeps the good signed release (or
// leaves nothing where there was nothing), and no temporary file.
TEST_F(PipelineEndToEndTest, AFailedSigningRunLeavesTheOutputAsItWas) {
  work.WriteFile("m.xml", Manifest());
  work.WriteFile("broken-rule.xml", Manifest("dravanePackage", "Local"));
  ASSERT_EQ(0, Run({"-R", "src", "m.xml", "out.p7", kSubject}).exitCode);
  const std::string previous = ReadFileBytes(Out());
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
      if (existed) work.WriteFile("out.p7", previous);
      std::vector<std::string> args = {"-R", "src"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      const ProcessResult result = Run(args);
      EXPECT_EQ(Banner() + "\nThere were errors:\n" + c.errors, result.output);
      EXPECT_EQ(1, result.exitCode);
      if (existed) {
        EXPECT_EQ(previous, ReadFileBytes(Out()));
      } else {
        EXPECT_FALSE(std::filesystem::exists(Out()));
      }
      for (const auto& entry : std::filesystem::directory_iterator(work.Path()))
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".brevick-"));
    }
    std::filesystem::remove(Out());
  }
}

// A dry run reports as a run would and writes the text only where asked.
TEST_F(PipelineEndToEndTest, DryRunSignsNothingAndWritesNoOutput) {
  work.WriteFile("m.xml", Manifest());
  const std::string done = "\nDone\n";
  const struct {
    std::vector<std::string> args;
    std::string output;
    int exitCode;
  } cases[] = {
      // clang-format off
      {{"--dry-run", "m.xml"}, Banner() + done, 0},
      {{"--dry-run", "--print", "m.xml", "out.p7", "run signer"}, Banner() + done + ReleaseManifest(), 0},
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
    EXPECT_FALSE(std::filesystem::exists(Out()));
  }
  EXPECT_EQ(ReleaseManifest(), ReadFileBytes(work.Path() / "text.xml"));
  EXPECT_EQ(Manifest(), ReadFileBytes(work.Path() / "m.xml"));
}

// Argument bytes that are not UTF-8 name the file of exactly those bytes,
// never the one their console display would name.
TEST_F(PipelineEndToEndTest, AnOutputPathThatIsNotUtf8IsWrittenByItsOwnBytes) {
  work.WriteFile("m.xml", Manifest());
  work.WriteFile("out\xEF\xBF\xBD.p7", "another file");
  const ProcessResult result = Run({"-P", "-R", "src", "m.xml", "out\xFF.p7", kSubject});
  EXPECT_EQ(0, result.exitCode);
  EXPECT_NE(std::string::npos,
            result.output.find("Signing and writing manifest: out\xEF\xBF\xBD.p7\n"));
  EXPECT_EQ("another file", ReadFileBytes(work.Path() / "out\xEF\xBF\xBD.p7"));
  std::filesystem::rename(work.Path() / "out\xFF.p7", Out());
  EXPECT_EQ(ReleaseManifest(), VerifiedContent());
}

}  // namespace
}  // namespace brevick::testing
