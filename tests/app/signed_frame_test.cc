// tests/signing/signed_frame_test.cc: the signed message built around its
// content, and the check of a written message read back in blocks.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "app/signed_output.h"
#include "app/signer_choice.h"
#include "base/file_io.h"
#include "base/report.h"
#include "base/stage_result.h"
#include "base/utf8.h"
#include "cms/signed_message.h"
#include "pki/crypto_result.h"
#include "tests/support/bytes.h"
#include "tests/support/signing_certs.h"

namespace brevick {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::wstring>;

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

class SignedFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key = testing::TestRsaKey(1);
    certificate = testing::MakeCertificate(key, {{"CN", "Frame Signer"}});
  }

  SignedMessageFrame FrameFor(std::string_view text, std::span<const std::uint8_t> digestInfo) {
    SignedMessageFrame frame;
    EXPECT_TRUE(BuildSignedMessageFrame(certificate.get(), key, text.size(), DigestAlgorithm::kMd2,
                                        digestInfo, frame));
    return frame;
  }

  EVP_PKEY* key = nullptr;
  X509Ptr certificate;
};

// Each length on the way to the content changes its own encoding at other
// content sizes: the sizes cover every form on every level, for content
// that crosses one length octet into two, two into three, three into four.
TEST_F(SignedFrameTest, FrameAroundTheContentIsTheMessageBuiltWithIt) {
  const Bytes digestInfo = DigestInfo(DigestAlgorithm::kSha256, BytesOf("any digest"));
  std::vector<std::size_t> sizes = {0, 1, 127, 128, 255, 256, 65535, 65536, 16777215, 16777216};
  for (const std::size_t boundary : {128u, 256u, 65536u}) {
    for (std::size_t below = 1; below <= 1400 && below <= boundary; below += 61)
      sizes.push_back(boundary - below);
  }
  SignedMessageFrame empty;
  ASSERT_TRUE(BuildSignedMessageFrame(certificate.get(), key, 0, DigestAlgorithm::kSha256,
                                      digestInfo, empty));
  for (const std::size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string text = TextOfSize(size);
    Bytes whole;
    ASSERT_TRUE(BuildSignedMessageOver(certificate.get(), key, BytesOf(text),
                                       DigestAlgorithm::kSha256, digestInfo, whole));
    SignedMessageFrame frame;
    ASSERT_TRUE(BuildSignedMessageFrame(certificate.get(), key, size, DigestAlgorithm::kSha256,
                                        digestInfo, frame));
    EXPECT_EQ(std::string(whole.begin(), whole.end()), Joined(frame, text));
    // Resizing is the same from either side, and back to no content again.
    const std::optional<SignedMessageFrame> resized = ResizedFrame(empty, size);
    ASSERT_TRUE(resized);
    EXPECT_EQ(frame.head, resized->head);
    const std::optional<SignedMessageFrame> back = ResizedFrame(frame, 0);
    ASSERT_TRUE(back);
    EXPECT_EQ(empty.head, back->head);
    EXPECT_EQ(empty.tail, back->tail);
  }
}

TEST_F(SignedFrameTest, OnlyASignedDataFrameWithItsWholeTailResizes) {
  const Bytes digestInfo = DigestInfo(DigestAlgorithm::kMd2, BytesOf("text"));
  const SignedMessageFrame frame = FrameFor("text", digestInfo);
  const auto cut = [](Bytes bytes, std::size_t count) {
    bytes.resize(bytes.size() - count);
    return bytes;
  };
  Bytes longer = frame.tail;
  longer.push_back(0);
  Bytes indefinite = frame.head;
  indefinite[1] = 0x80;  // the outer length, indefinite: BER, never what is written
  Bytes otherTag = frame.head;
  otherTag.back() = 0;                   // the content's length...
  otherTag[otherTag.size() - 2] = 0x05;  // ...after a NULL instead of an octet string
  const struct {
    const char* what;
    SignedMessageFrame frame;
  } cases[] = {
      {"a tail one byte short", {frame.head, cut(frame.tail, 1)}},
      {"a tail one byte long", {frame.head, longer}},
      {"a head cut in its last header", {cut(frame.head, 1), frame.tail}},
      {"a head with an indefinite length", {indefinite, frame.tail}},
      {"content that is not an octet string", {otherTag, frame.tail}},
      {"not a message at all", {Bytes{'<', 'a', '/', '>'}, {}}},
      {"nothing", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(ResizedFrame(c.frame, 10));
    EXPECT_EQ(CryptoResult::kCannotDecode, VerifySignedFrame(c.frame, digestInfo));
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
TEST_F(SignedFrameTest, ReadBackPassesOnlyTheMessageSignedAndSaysWhyNot) {
  const testing::TempDir work;
  // Three blocks and a part, so that differences fall in later blocks too.
  const std::string text = TextOfSize((3u << 20) + 1234);
  const Bytes digestInfo = DigestInfo(DigestAlgorithm::kMd2, BytesOf(text));
  const SignedMessageFrame frame = FrameFor(text, digestInfo);
  const std::string message = Joined(frame, text);
  const auto changedAt = [&](std::size_t at) {
    std::string changed = message;
    changed[at] = static_cast<char>(changed[at] ^ 1);
    return changed;
  };
  // A signature the key made over another text's digest, around this text.
  const Bytes otherDigestInfo = DigestInfo(DigestAlgorithm::kMd2, BytesOf("other"));
  const std::string wrongSignature = Joined(FrameFor(text, otherDigestInfo), text);

  const std::wstring differs = L"The signed content differs from the manifest written";
  const std::wstring cannotDecode = ToWide(CryptoErrorText(CryptoResult::kCannotDecode));
  const std::wstring mismatch = ToWide(CryptoErrorText(CryptoResult::kSignatureMismatch));
  const std::size_t contentStart = frame.head.size();
  const struct {
    const char* what;
    std::string written;
    StageResult result;
    Strings errors;
  } cases[] = {
      // clang-format off
      {"the message signed", message, StageResult::kGoOn, {}},
      {"first content byte", changedAt(contentStart), StageResult::kVerifyFailed, {differs}},
      {"a byte in the third block", changedAt(contentStart + (2u << 20) + 17), StageResult::kVerifyFailed, {differs}},
      {"last content byte", changedAt(contentStart + text.size() - 1), StageResult::kVerifyFailed, {differs}},
      {"a byte of the signature", changedAt(message.size() - 3), StageResult::kVerifyFailed, {mismatch}},
      {"cut by one byte", message.substr(0, message.size() - 1), StageResult::kVerifyFailed, {cannotDecode}},
      {"cut inside the content", message.substr(0, contentStart + 1000), StageResult::kVerifyFailed, {cannotDecode}},
      {"one byte more", message + "x", StageResult::kVerifyFailed, {cannotDecode}},
      {"the text unsigned", text, StageResult::kVerifyFailed, {ToWide(CryptoErrorText(CryptoResult::kNotSignedMessage))}},
      {"empty", "", StageResult::kVerifyFailed, {ToWide(CryptoErrorText(CryptoResult::kNotSignedMessage))}},
      {"the same bytes, signed over another digest", wrongSignature, StageResult::kVerifyFailed, {mismatch}},
      // clang-format on
  };
  const std::filesystem::path out = work.Path() / "out.p7";
  // Read through a descriptor left at the end of the file, as after writing.
  const auto check = [&](const std::string& written, const SignedMessageFrame& expected) {
    std::ofstream(out, std::ios::binary | std::ios::trunc) << written;
    const FileDescriptor file(::open(out.c_str(), O_RDONLY));
    ::lseek(file.Get(), 0, SEEK_END);
    return CheckWrittenMessage(L"out.p7", file.Get(), text, digestInfo, expected);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ConsoleCapture capture;
    EXPECT_EQ(c.result, check(c.written, frame));
    EXPECT_EQ(c.errors, Errors());
  }
  // The frame signed over another digest is checked on the fast path too.
  const ConsoleCapture capture;
  EXPECT_EQ(StageResult::kVerifyFailed, check(wrongSignature, FrameFor(text, otherDigestInfo)));
  EXPECT_EQ(Strings{mismatch}, Errors());
}

// The whole path: a text of several blocks written around in place, read
// back in blocks, and taken by OpenSSL's own CMS check (SHA-256; OpenSSL has
// no MD2).
TEST_F(SignedFrameTest, ALargeOutputWrittenAroundTheTextIsWhatOpensslCmsVerifies) {
  const testing::StoreHome home;
  home.AddPemWithKey("My", "frame.pem", certificate.get(), key);
  const std::string text = TextOfSize((2u << 20) + 99);
  const std::filesystem::path out = home.Root() / "out.p7";
  const std::filesystem::path content = home.Root() / "content.xml";
  SignerChoice choice{L"Frame Signer", L""};
  choice.digest = DigestAlgorithm::kSha256;
  {
    const ConsoleCapture capture;
    ASSERT_EQ(StageResult::kGoOn, SignAndWriteText(text, ToWide(out.string()), choice));
    EXPECT_EQ(Strings{}, Errors());
  }
  const std::string command = "openssl cms -verify -inform DER -binary -noverify -in " +
                              out.string() + " -out " + content.string() + " 2>/dev/null";
  EXPECT_EQ(0, std::system(command.c_str()));
  EXPECT_EQ(text, testing::ReadFileBytes(content));
}

}  // namespace
}  // namespace brevick
