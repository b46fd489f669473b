// The output path under interference: another writer swapping the file,
// two runs at once, kills at any moment. Whatever happens, the path holds a
// whole file, and a run that says it is done signed exactly its own text.
// Each loop has a short default and a long run (tests/support/long_tests.h).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
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
#include "tests/support/long_tests.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using testing::ReadFileBytes;
using Strings = std::vector<std::wstring>;

const Strings kDiffers = {L"The signed content differs from the manifest written",
                          L"Error verifying signature :Error while attempting to verify the "
                          L"signature."};

using testing::ShortOrLong;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The content of a signed message that verifies, or nothing.
std::optional<std::string> VerifiedContent(const std::string& message) {
  std::vector<std::uint8_t> content;
  if (VerifySignedMessage(Bytes(message), content) != CryptoResult::kOk) return std::nullopt;
  return std::string(content.begin(), content.end());
}

void WriteWhole(const std::filesystem::path& path, std::string_view bytes) {
  const std::filesystem::path temporary = path.string() + ".swap";
  std::ofstream(temporary, std::ios::binary) << bytes;
  std::filesystem::rename(temporary, path);
}

class OutputReplacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signer = testing::MakeCertificate(testing::TestRsaKey(0), {{"CN", "Release Signer"}});
    home.AddPemWithKey("My", "signer.pem", signer.get(), testing::TestRsaKey(0));
    out = home.Root() / "out.p7";
  }

  std::string SignedMessageOf(std::string_view text) {
    std::vector<std::uint8_t> message;
    EXPECT_EQ(CryptoResult::kOk, testing::SignFromStore(L"Release", Bytes(text), message, L""));
    return std::string(message.begin(), message.end());
  }

  // Runs SignAndWriteText in a child process; its stage result is the exit
  // status. `named` makes it write a named new file, as on a file system
  // without O_TMPFILE.
  pid_t StartChild(const std::string& text, bool named = false,
                   DigestAlgorithm digest = DigestAlgorithm::kMd2) {
    const pid_t child = fork();
    if (child == 0) {
      if (named) UseNamedTemporaryFilesOnly();
      const ConsoleCapture capture;
      SignerChoice choice{L"Release", L""};
      choice.digest = digest;
      const StageResult result = SignAndWriteText(text, ToWide(out.string()), choice);
      _exit(static_cast<int>(result));
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
  X509Ptr signer;
  std::filesystem::path out;
};

TEST_F(OutputReplacementTest, CheckAgainstTheTextSignedTellsContentFromSignature) {
  const std::string text = "<dravanePackage/>\n";
  const std::string other = "<dravanePackage>other</dravanePackage>\n";
  const std::string message = SignedMessageOf(text);
  const std::vector<std::uint8_t> digestInfo = DigestInfo(DigestAlgorithm::kMd2, Bytes(text));
  const std::vector<std::uint8_t> otherDigestInfo = DigestInfo(DigestAlgorithm::kMd2, Bytes(other));
  const struct {
    const char* what;
    std::string message, expected;
    const std::vector<std::uint8_t>& digestInfo;
    CryptoResult result;
    bool contentMatches;
  } cases[] = {
      // clang-format off
      {"the message signed", message, text, digestInfo, CryptoResult::kOk, true},
      {"another text's message", SignedMessageOf(other), text, digestInfo, CryptoResult::kSignatureMismatch, false},
      {"a digest that is not the text's", message, text, otherDigestInfo, CryptoResult::kSignatureMismatch, true},
      {"one byte of content more", message, text + " ", digestInfo, CryptoResult::kSignatureMismatch, false},
      {"the unsigned text", text, text, digestInfo, CryptoResult::kNotSignedMessage, false},
      {"a cut message", message.substr(0, message.size() - 1), text, digestInfo, CryptoResult::kCannotDecode, false},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool contentMatches = !c.contentMatches;
    EXPECT_EQ(c.result, VerifySignedMessageOf(Bytes(c.message), Bytes(c.expected), c.digestInfo,
                                              contentMatches));
    EXPECT_EQ(c.contentMatches, contentMatches);
  }
}

TEST_F(OutputReplacementTest, ASymbolicLinkAtTheOutputIsReplacedAndTheFileModeKept) {
  const std::string text = "<dravanePackage/>\n";
  std::ofstream(home.Root() / "target", std::ios::binary) << "keep";
  std::filesystem::create_symlink("target", out);
  {
    const ConsoleCapture capture;
    EXPECT_EQ(StageResult::kGoOn,
              SignAndWriteText(text, ToWide(out.string()), SignerChoice{L"Release", L""}));
    EXPECT_EQ(Strings{}, Errors());
  }
  EXPECT_FALSE(std::filesystem::is_symlink(out));
  EXPECT_EQ("keep", ReadFileBytes(home.Root() / "target"));
  EXPECT_EQ(text, VerifiedContent(ReadFileBytes(out)));

  ASSERT_EQ(0, chmod(out.c_str(), 0640));
  const ConsoleCapture capture;
  EXPECT_EQ(StageResult::kGoOn,
            SignAndWriteText(text, ToWide(out.string()), SignerChoice{L"Release", L""}));
  struct stat status {};
  ASSERT_EQ(0, stat(out.c_str(), &status));
  EXPECT_EQ(0640u, status.st_mode & 07777);
}

TEST_F(OutputReplacementTest, ReplacementFileNamesFitAFileName) {
  EXPECT_EQ(".out.p7.brevick-Ab3xYz", ReplacementFileName("out.p7", "Ab3xYz"));
  const std::string longName(255, 'n');
  const std::string name = ReplacementFileName(longName, "Ab3xYz");
  EXPECT_EQ(255u, name.size());
  EXPECT_EQ(".nnn", name.substr(0, 4));
  EXPECT_EQ(".brevick-Ab3xYz", name.substr(name.size() - 15));
  // A name at the limit can still be written.
  const std::filesystem::path longOut = home.Root() / longName;
  const ConsoleCapture capture;
  EXPECT_EQ(StageResult::kGoOn,
            SignAndWriteText("<a/>", ToWide(longOut.string()), SignerChoice{L"Release", L""}));
}

// Another process that can write the output swaps in a validly signed
// message of other content as soon as the file appears or changes.
TEST_F(OutputReplacementTest, ASwappedOutputIsNeverTakenForTheTextSigned) {
  const std::string text = "<dravanePackage>release</dravanePackage>\n";
  const std::string swapped = SignedMessageOf("<dravanePackage>evil</dravanePackage>\n");
  std::atomic<bool> stop = false;
  std::thread swapper([&] {
    while (!stop) {
      std::ifstream file(out, std::ios::binary);
      if (!file) continue;
      const std::string now((std::istreambuf_iterator<char>(file)), {});
      if (now != swapped) WriteWhole(out, swapped);
    }
  });
  int signedRuns = 0, caughtRuns = 0;
  for (int run = 0; run < ShortOrLong(10, 300); ++run) {
    SCOPED_TRACE(run);
    const ConsoleCapture capture;
    const StageResult result =
        SignAndWriteText(text, ToWide(out.string()), SignerChoice{L"Release", L""});
    if (result == StageResult::kGoOn) {
      EXPECT_EQ(Strings{}, Errors());
      ++signedRuns;
    } else {
      EXPECT_EQ(StageResult::kVerifyFailed, result);
      EXPECT_EQ(kDiffers, Errors());
      ++caughtRuns;
    }
  }
  stop = true;
  swapper.join();
  std::cout << "swap runs: " << signedRuns << " signed their own text, " << caughtRuns
            << " caught a swap\n";
}

TEST_F(OutputReplacementTest, TwoRunsAtOnceLeaveOneWholeSignedMessage) {
  const std::string first = "<dravanePackage>first</dravanePackage>\n";
  const std::string second = "<dravanePackage>second</dravanePackage>\n";
  int firstWins = 0, secondWins = 0;
  for (int run = 0; run < ShortOrLong(4, 120); ++run) {
    SCOPED_TRACE(run);
    std::filesystem::remove(out);
    const pid_t a = StartChild(first);
    const pid_t b = StartChild(second);
    for (const pid_t child : {a, b}) {
      int status = 0;
      ASSERT_EQ(child, waitpid(child, &status, 0));
      ASSERT_TRUE(WIFEXITED(status));
      const auto result = static_cast<StageResult>(WEXITSTATUS(status));
      EXPECT_TRUE(result == StageResult::kGoOn || result == StageResult::kVerifyFailed)
          << WEXITSTATUS(status);
    }
    const std::optional<std::string> content = VerifiedContent(ReadFileBytes(out));
    ASSERT_TRUE(content == first || content == second);
    (content == first ? firstWins : secondWins)++;
  }
  std::size_t leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(home.Root()))
    leftovers += entry.path().filename().string().starts_with(".out.p7.brevick-");
  EXPECT_EQ(0u, leftovers);
  std::cout << "races: first won " << firstWins << ", second " << secondWins << "\n";
}

// Killed at any moment, a run leaves the previous file or the whole signed
// message, and no temporary file: an unnamed one vanishes with the process,
// a named one is removed by the handler of every signal that can be caught.
TEST_F(OutputReplacementTest, AKillAtAnyMomentLeavesAWholeFileAndNoTemporaryOne) {
  // Long enough to be killed while signing, writing or checking.
  std::string text = "<dravanePackage>";
  while (text.size() < 20'000) text += "<module name=\"M\" id=\"{2}\"/>";
  text += "</dravanePackage>\n";
  const std::string previous = "the previous release";

  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  // SHA-256, so that a hundred runs take a second or two.
  const pid_t timed = StartChild(text, false, DigestAlgorithm::kSha256);
  ASSERT_EQ(timed, waitpid(timed, &status, 0));
  const auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_EQ(0, WEXITSTATUS(status));

  const struct {
    int signal;
    bool named;
  } kills[] = {{SIGKILL, false}, {SIGTERM, true}, {SIGINT, true}, {SIGHUP, true}};
  std::mt19937 random(12345);
  // Up to twice the run's time: a child starts slower than it runs.
  std::uniform_int_distribution<long> moment(0, 2 * runTime.count());
  int old = 0, signedMessage = 0;
  for (int run = 0; run < ShortOrLong(100, 400); ++run) {
    const auto& kill = kills[run % std::size(kills)];
    WriteWhole(out, previous);
    const long delay = moment(random);
    SCOPED_TRACE(::testing::Message() << "signal " << kill.signal << " after " << delay << " us");
    const pid_t child = StartChild(text, kill.named, DigestAlgorithm::kSha256);
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    ::kill(child, kill.signal);
    ASSERT_EQ(child, waitpid(child, &status, 0));
    const std::string after = ReadFileBytes(out);
    if (after == previous) {
      ++old;
    } else {
      ASSERT_EQ(text, VerifiedContent(after)) << "a part of a file, " << after.size() << " bytes";
      ++signedMessage;
    }
    ASSERT_EQ(0u, Leftovers());
  }
  std::cout << "kills over a run of " << runTime.count() << " us: " << old << " old, "
            << signedMessage << " signed message, no temporary file left\n";
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
      const std::filesystem::path next = home.Root() / "flip.next";
      std::filesystem::create_directory_symlink(toStore ? store : own, next);
      std::filesystem::rename(next, flip);
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  });
  int written = 0, refused = 0;
  for (int run = 0; run < ShortOrLong(100, 400); ++run) {
    const ConsoleCapture capture;
    const StageResult result =
        SignAndWriteText("<dravanePackage/>\n", ToWide((flip / "out.p7").string()),
                         SignerChoice{L"Release", L""}, guard);
    ASSERT_TRUE(result == StageResult::kGoOn || result == StageResult::kOutputNotOpened) << run;
    (result == StageResult::kGoOn ? written : refused)++;
  }
  stop = true;
  flipper.join();
  std::vector<std::string> inStore;
  for (const auto& entry : std::filesystem::directory_iterator(store))
    inStore.push_back(entry.path().filename().string());
  EXPECT_EQ(std::vector<std::string>{"signer.pem"}, inStore);
  std::cout << "flipped directory: " << written << " runs wrote their own, " << refused
            << " refused the store\n";
}

}  // namespace
}  // namespace brevick
