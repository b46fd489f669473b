// tests/app/signed_output_test.cc: the signed message built around its content
// without holding both, its check read back in blocks, and a failed write that
// leaves the previous release whole.
#include "app/signed_output.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <limits>

#include "base/file_io.h"
#include "base/report.h"
#include "base/utf8.h"
#include "cms/signed_message.h"
#include "tests/support/bytes.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::BytesOf;

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

// The whole path: a text of several blocks written around in place, read back
// in blocks, and taken by OpenSSL's own CMS check (SHA-256: OpenSSL has no MD2).
TEST_F(SignedOutputTest, ALargeOutputWrittenAroundTheTextIsWhatOpensslCmsVerifies) {
  const testing::StoreHome home;
  home.AddPemWithKey("My", "frame.pem", certificate.get(), key);
  const std::string text = TextOfSize((2u << 20) + 99);
  const std::filesystem::path out = home.Root() / "out.p7";
  const std::filesystem::path content = home.Root() / "content.xml";
  SignerChoice choice{L"Frame Signer", L""};
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
  EXPECT_EQ(text, testing::ReadFileBytes(content));
}

// The previous release stays whole, and no temporary file is left.
TEST_F(SignedOutputTest, AFullDiskIsRecordedAndLeavesThePreviousReleaseWhole) {
  const testing::StoreHome home;
  home.AddPemWithKey("My", "frame.pem", certificate.get(), key);
  const std::string previous = "the previous release", text = "<dravanePackage/>\n";
  const std::filesystem::path out = home.Root() / "out.xml";
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
      SignAndWriteText(text, ToWide(out.string()), SignerChoice{L"Frame Signer", L""});
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(StageResult::kSignatureNotWritten, result);
  EXPECT_EQ(std::vector<std::wstring>{L"Failed:Error writing the signature to the file."},
            Errors());
  EXPECT_EQ(previous, testing::ReadFileBytes(out));
  const std::filesystem::directory_iterator entries(home.Root());
  EXPECT_EQ(2, std::distance(entries, {}));  // the stores' home and the output, nothing more
}

}  // namespace
}  // namespace brevick
