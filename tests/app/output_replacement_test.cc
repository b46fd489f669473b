// The output path under interference: two runs at once, kills at any moment,
// its directory flipped into the stores.
// Whatever happens, the path holds a whole file, and a run that says it is
// done signed exactly its own text. Each loop has a short default and a long
// run (tests/support/long_tests.h).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "app/output_guard.h"
#include "app/signed_output.h"
#include "base/file_io.h"
#include "base/report.h"
#include "base/utf8.h"
#include "cms/signed_message.h"
#include "pki/crypto_result.h"
#include "tests/support/bytes.h"
#include "tests/support/long_tests.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using testing::BytesOf;
using testing::ReadFileBytes;
using testing::ShortOrLong;
using Strings = std::vector<std::wstring>;

// The content of a signed message that verifies, or nothing.
std::optional<std::string> VerifiedContent(const std::string& message) {
  std::vector<std::uint8_t> content;
  if (VerifySignedMessage(BytesOf(message), content) != CryptoResult::kOk) return std::nullopt;
  return std::string(content.begin(), content.end());
}

class OutputReplacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const X509Ptr signer = testing::MakeCertificate(testing::TestRsaKey(0), {{"CN", "Release"}});
    home.AddPemWithKey("My", "signer.pem", signer.get(), testing::TestRsaKey(0));
  }
  // One signing stage in this process: its result and the errors it recorded.
  std::pair<StageResult, Strings> Sign(std::string_view text, const std::filesystem::path& path,
                                       const OutputGuard& guard = {}) {
    const ConsoleCapture capture;
    const StageResult result =
        SignAndWriteText(text, ToWide(path.string()), {L"Release", L""}, guard);
    return {result, Errors()};
  }
  // The stage in a child process, its result the exit status. `named` writes
  // a named new file, as on a file system without O_TMPFILE.
  pid_t StartChild(const std::string& text, bool named = false) {
    const pid_t child = fork();
    if (child == 0) {
      if (named) UseNamedTemporaryFilesOnly();
      const ConsoleCapture capture;
      SignerChoice choice{L"Release", L""};
      choice.digest = DigestAlgorithm::kSha256;
      _exit(static_cast<int>(SignAndWriteText(text, ToWide(out.string()), choice)));
    }
    return child;
  }
  std::size_t Leftovers() const {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home.Root()))
      count += entry.path().filename().string().find(".brevick-") != std::string::npos;
    return count;
  }
  testing::StoreHome home;
  std::filesystem::path out = home.Root() / "out.p7";
};

// A link at the output is replaced, not followed; the mode of a file
// replaced is kept; a name at the length limit still gets its temporary.
TEST_F(OutputReplacementTest, TheOutputIsReplacedWholeKeepingItsMode) {
  std::ofstream(home.Root() / "target", std::ios::binary) << "keep";
  std::filesystem::create_symlink("target", out);
  EXPECT_EQ(std::pair(StageResult::kGoOn, Strings{}), Sign("<a/>", out));
  EXPECT_FALSE(std::filesystem::is_symlink(out));
  EXPECT_EQ("keep", ReadFileBytes(home.Root() / "target"));
  ASSERT_EQ(0, chmod(out.c_str(), 0640));
  EXPECT_EQ(StageResult::kGoOn, Sign("<b/>", out).first);
  struct stat status {};
  ASSERT_EQ(0, stat(out.c_str(), &status));
  EXPECT_EQ(0640u, status.st_mode & 07777);
  EXPECT_EQ("<b/>", VerifiedContent(ReadFileBytes(out)));
  EXPECT_EQ(StageResult::kGoOn, Sign("<a/>", home.Root() / std::string(255, 'n')).first);
}

// Two runs at once leave one whole signed message, and killed at any moment
// a run leaves the previous file or its whole message, and no temporary file:
// an unnamed one vanishes with the process, a named one is removed by the
// handler of every signal that can be caught (SIGKILL: see below).
TEST_F(OutputReplacementTest, RacesAndKillsLeaveAWholeFileAndNoTemporaryOne) {
  std::string text = "<dravanePackage>";
  while (text.size() < 20'000) text += "<module name=\"M\" id=\"{2}\"/>";
  text += "</dravanePackage>\n";
  for (int run = 0; run < ShortOrLong(2, 120); ++run) {
    std::filesystem::remove(out);
    for (const pid_t child : {StartChild(text), StartChild(text + " ")}) {
      int status = 0;
      ASSERT_EQ(child, waitpid(child, &status, 0));
      const auto result = static_cast<StageResult>(WEXITSTATUS(status));
      EXPECT_TRUE(result == StageResult::kGoOn || result == StageResult::kVerifyFailed);
    }
    const std::optional<std::string> content = VerifiedContent(ReadFileBytes(out));
    ASSERT_TRUE(content == text || content == text + " ");
  }
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  ASSERT_GT(waitpid(StartChild(text), &status, 0), 0);
  ASSERT_EQ(0, WEXITSTATUS(status));
  const auto runTime = std::chrono::steady_clock::now() - start;
  const struct {
    int signal;
    bool named;
  } kills[] = {{SIGKILL, false}, {SIGTERM, true}, {SIGINT, true}, {SIGHUP, true}};
  std::mt19937 random(12345);
  // Up to twice the run's time: a child starts slower than it runs.
  std::uniform_int_distribution<long> moment(
      0, 2 * std::chrono::duration_cast<std::chrono::microseconds>(runTime).count());
  for (int run = 0; run < ShortOrLong(8, 400); ++run) {
    const auto& kill = kills[run % std::size(kills)];
    std::ofstream(out, std::ios::binary | std::ios::trunc) << "the previous release";
    const long delay = moment(random);
    SCOPED_TRACE(::testing::Message() << "signal " << kill.signal << " after " << delay << " us");
    const pid_t child = StartChild(text, kill.named);
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    ::kill(child, kill.signal);
    ASSERT_EQ(child, waitpid(child, &status, 0));
    const std::string after = ReadFileBytes(out);
    if (after != "the previous release") {
      ASSERT_EQ(text, VerifiedContent(after)) << "a part of a file, " << after.size() << " bytes";
    }
    // SIGKILL cannot be caught: in the microseconds between naming the
    // finished file and renaming it, it leaves the whole message behind
    // under its temporary name, never a part of one.
    for (const auto& entry : std::filesystem::directory_iterator(home.Root())) {
      if (kill.signal != SIGKILL ||
          entry.path().filename().string().find(".brevick-") == std::string::npos)
        continue;
      EXPECT_EQ(text, VerifiedContent(ReadFileBytes(entry.path())));
      std::filesystem::remove(entry.path());
    }
    ASSERT_EQ(0u, Leftovers());
  }
}

// The output's directory flipped between a directory of its own and a store
// while runs go on: no run writes into the store, whichever it sees.
TEST_F(OutputReplacementTest, AnOutputDirectoryFlippedIntoTheStoresIsNeverWrittenThere) {
  const std::filesystem::path store = home.StoresDirectory() / "My";
  const std::filesystem::path own = home.Root() / "own";
  const std::filesystem::path flip = home.Root() / "flip";
  std::filesystem::create_directory(own);
  std::filesystem::create_directory_symlink(own, flip);
  const OutputGuard guard{L"", {}, home.StoresDirectory().string()};
  std::atomic<bool> stop = false;
  std::thread flipper([&] {
    for (bool toStore = true; !stop; toStore = !toStore) {
      std::filesystem::create_directory_symlink(toStore ? store : own, home.Root() / "flip.next");
      std::filesystem::rename(home.Root() / "flip.next", flip);
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  });
  for (int run = 0; run < ShortOrLong(40, 400); ++run) {
    const StageResult result = Sign("<dravanePackage/>\n", flip / "out.p7", guard).first;
    ASSERT_TRUE(result == StageResult::kGoOn || result == StageResult::kOutputNotOpened) << run;
  }
  stop = true;
  flipper.join();
  std::vector<std::string> inStore;
  for (const auto& entry : std::filesystem::directory_iterator(store))
    inStore.push_back(entry.path().filename().string());
  EXPECT_EQ(std::vector<std::string>{"signer.pem"}, inStore);
}

}  // namespace
}  // namespace brevick
