// tests/app/signed_output_test.cc: the signed message built around its content
// without holding both, its check read back in blocks, and the output path
// under interference: a full disk, two runs at once, kills at any moment, its
// directory flipped into the stores. Whatever happens, the path holds a whole
// file, and a run that says it is done signed exactly its own text. Each loop
// has a short default and a long run (tests/support/long_tests.h).
#include "app/signed_output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <thread>

#include "app/output_guard.h"
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

using Bytes = std::vector<std::uint8_t>;
using testing::BytesOf;
using testing::ReadFileBytes;
using testing::ShortOrLong;
using Strings = std::vector<std::wstring>;

// The message a frame makes around `content`, as text.
std::string Joined(const SignedMessageFrame& frame, std::string_view content) {
  return testing::TextOf(testing::Joined(frame, BytesOf(content)));
}

// A text of `size` bytes that differs along its length.
std::string TextOfSize(std::size_t size) {
  std::string text(size, 'x');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 23);
  return text;
}

class SignedOutputTest : public ::testing::Test {
 protected:
  SignedMessageFrame FrameFor(std::uint64_t size, std::span<const std::uint8_t> digestInfo,
                              DigestAlgorithm digest = DigestAlgorithm::kMd2) {
    SignedMessageFrame frame;
    EXPECT_TRUE(BuildSignedMessageFrame(certificate.get(), key, size, digest, digestInfo, frame));
    return frame;
  }

  EVP_PKEY* key = testing::TestRsaKey(1);
  X509Ptr certificate = testing::MakeCertificate(key, {{"CN", "Frame Signer"}});
};

// Each length on the way to the content changes its encoding at other content
// sizes: the sizes cover every form on every level, for content that crosses
// one length octet into two, two into three, three into four.
TEST_F(SignedOutputTest, FrameAroundTheContentIsTheMessageBuiltWithIt) {
  const Bytes digestInfo = DigestInfo(DigestAlgorithm::kSha256, BytesOf("any digest"));
  std::vector<std::size_t> sizes = {0, 1, 127, 128, 255, 256, 65535, 65536, 16777215, 16777216};
  for (const std::size_t boundary : {128u, 256u, 65536u}) {
    for (std::size_t below = 1; below <= 1400 && below <= boundary; below += 61)
      sizes.push_back(boundary - below);
  }
  const SignedMessageFrame empty = FrameFor(0, digestInfo, DigestAlgorithm::kSha256);
  for (const std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string text = TextOfSize(size);
    Bytes whole;
    ASSERT_TRUE(BuildSignedMessageOver(certificate.get(), key, BytesOf(text),
                                       DigestAlgorithm::kSha256, digestInfo, whole));
    const SignedMessageFrame frame = FrameFor(size, digestInfo, DigestAlgorithm::kSha256);
    EXPECT_EQ(testing::TextOf(whole), Joined(frame, text));
    // Resizing is the same from either side, and back to no content again.
    EXPECT_EQ(frame.head, ResizedFrame(empty, size).value_or(SignedMessageFrame{}).head);
    const SignedMessageFrame back = ResizedFrame(frame, 0).value_or(SignedMessageFrame{});
    EXPECT_EQ(empty.head, back.head);
    EXPECT_EQ(empty.tail, back.tail);
  }
}

TEST_F(SignedOutputTest, OnlyASignedDataFrameWithItsWholeTailResizes) {
  const Bytes digestInfo = DigestInfo(DigestAlgorithm::kMd2, BytesOf("text"));
  const SignedMessageFrame frame = FrameFor(4, digestInfo);
  const auto cut = [](Bytes bytes) {
    bytes.pop_back();
    return bytes;
  };
  Bytes longer = frame.tail, indefinite = frame.head, otherTag = frame.head;
  longer.push_back(0);
  indefinite[1] = 0x80;                  // the outer length, indefinite: BER, never what is written
  otherTag.back() = 0;                   // the content's length...
  otherTag[otherTag.size() - 2] = 0x05;  // ...after a NULL instead of an octet string
  const SignedMessageFrame cases[] = {
      // clang-format off
      {frame.head, cut(frame.tail)},
      {frame.head, longer},
      {cut(frame.head), frame.tail},
      {indefinite, frame.tail},
      {otherTag, frame.tail},
      {Bytes{'<', 'a', '/', '>'}, {}},
      {},
      // clang-format on
  };
  for (const SignedMessageFrame& broken : cases) {
    SCOPED_TRACE(&broken - cases);
    EXPECT_FALSE(ResizedFrame(broken, 10));
    EXPECT_EQ(CryptoResult::kCannotDecode, VerifySignedFrame(broken, digestInfo));
  }
  EXPECT_TRUE(ResizedFrame(frame, 10));
  EXPECT_FALSE(ResizedFrame(frame, std::numeric_limits<std::uint64_t>::max()));
  SignedMessageFrame tooLarge;
  EXPECT_FALSE(BuildSignedMessageFrame(certificate.get(), key,
                                       std::uint64_t{std::numeric_limits<int>::max()} + 1,
                                       DigestAlgorithm::kMd2, digestInfo, tooLarge));
}

// The file written is compared in blocks with the text in memory; whatever
// differs, wherever, fails as the whole-file check always said it.
TEST_F(SignedOutputTest, ReadBackPassesOnlyTheMessageSignedAndSaysWhyNot) {
  const testing::TempDir work;
  // Three blocks and a part, so that differences fall in later blocks too.
  const std::string text = TextOfSize((3u << 20) + 1234);
  const Bytes digestInfo = DigestInfo(DigestAlgorithm::kMd2, BytesOf(text));
  const SignedMessageFrame frame = FrameFor(text.size(), digestInfo);
  const std::string message = Joined(frame, text);
  const auto changedAt = [&](std::size_t at) {
    std::string changed = message;
    changed[at] = static_cast<char>(changed[at] ^ 1);
    return changed;
  };
  // A signature the key made over another text's digest, around this text.
  const Bytes otherDigestInfo = DigestInfo(DigestAlgorithm::kMd2, BytesOf("other"));
  const SignedMessageFrame otherFrame = FrameFor(text.size(), otherDigestInfo);
  const std::string differs = "The signed content differs from the manifest written";
  const std::string cannotDecode = CryptoErrorText(CryptoResult::kCannotDecode);
  const std::string mismatch = CryptoErrorText(CryptoResult::kSignatureMismatch);
  const std::size_t start = frame.head.size();
  const struct {
    std::string written;
    const SignedMessageFrame& expected;
    std::string error;  // empty: passes
  } cases[] = {
      // clang-format off
      {message, frame, ""},
      {changedAt(start), frame, differs},
      {changedAt(start + (2u << 20) + 17), frame, differs},
      {changedAt(start + text.size() - 1), frame, differs},
      {changedAt(message.size() - 3), frame, mismatch},
      {message.substr(0, message.size() - 1), frame, cannotDecode},
      {message + "x", frame, cannotDecode},
      {text, frame, CryptoErrorText(CryptoResult::kNotSignedMessage)},
      {Joined(otherFrame, text), frame, mismatch},
      {Joined(otherFrame, text), otherFrame, mismatch},  // the frame's own bytes, checked on the fast path
      // clang-format on
  };
  const std::filesystem::path out = work.Path() / "out.p7";
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::ofstream(out, std::ios::binary | std::ios::trunc) << c.written;
    // Read through a descriptor left at the end of the file, as after writing.
    const FileDescriptor file(::open(out.c_str(), O_RDONLY));
    ::lseek(file.Get(), 0, SEEK_END);
    const ConsoleCapture capture;
    EXPECT_EQ(c.error.empty() ? StageResult::kGoOn : StageResult::kVerifyFailed,
              CheckWrittenMessage(L"out.p7", file.Get(), text, digestInfo, c.expected));
    EXPECT_EQ(c.error.empty() ? std::vector<std::wstring>{} : std::vector{ToWide(c.error)},
              Errors());
  }
}

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

// The whole path: a text of several blocks written around in place, read back
// in blocks, and taken by OpenSSL's own CMS check (SHA-256: OpenSSL has no MD2).
TEST_F(OutputReplacementTest, ALargeOutputWrittenAroundTheTextIsWhatOpensslCmsVerifies) {
  const std::string text = TextOfSize((2u << 20) + 99);
  const std::filesystem::path content = home.Root() / "content.xml";
  SignerChoice choice{L"Release", L""};
  choice.digest = DigestAlgorithm::kSha256;
  {
    const ConsoleCapture capture;
    // Backslashes in the output path open as slashes.
    ASSERT_EQ(StageResult::kGoOn,
              SignAndWriteText(text, ToWide(home.Root().string()) + L"\\out.p7", choice));
    EXPECT_EQ(0u, ErrorCount());
  }
  const std::string command = "openssl cms -verify -inform DER -binary -noverify -in " +
                              out.string() + " -out " + content.string() + " 2>/dev/null";
  EXPECT_EQ(0, std::system(command.c_str()));
  EXPECT_EQ(text, ReadFileBytes(content));
}

// The previous release stays whole, and no temporary file is left.
TEST_F(OutputReplacementTest, AFullDiskIsRecordedAndLeavesThePreviousReleaseWhole) {
  const std::string previous = "the previous release", text = "<dravanePackage/>\n";
  std::ofstream(out, std::ios::binary) << previous;
  // Writes past the limit fail with EFBIG, as on a full disk after the open
  // (root is not stopped by permissions).
  const sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limited = saved;
  limited.rlim_cur = text.size() + 10;
  setrlimit(RLIMIT_FSIZE, &limited);
  const ConsoleCapture capture;
  const StageResult result =
      SignAndWriteText(text, ToWide(out.string()), SignerChoice{L"Release", L""});
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(StageResult::kSignatureNotWritten, result);
  EXPECT_EQ(std::vector<std::wstring>{L"Failed:Error writing the signature to the file."},
            Errors());
  EXPECT_EQ(previous, ReadFileBytes(out));
  const std::filesystem::directory_iterator entries(home.Root());
  EXPECT_EQ(2, std::distance(entries, {}));  // the stores' home and the output, nothing more
}

}  // namespace
}  // namespace brevick
