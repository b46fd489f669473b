// app/signed_output.cc: writing, signing and verifying the output file.
#include "app/signed_output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "app/signer.h"
#include "app/timestamping.h"
#include "base/file_io.h"
#include "base/report.h"
#include "base/utf8.h"
#include "cms/signed_message.h"
#include "pki/crypto_result.h"
#include "pki/openssl_handles.h"
#include "xml/document.h"
#include "xml/writer.h"

namespace brevick {
namespace {

// One level of indentation in the signed manifest text.
constexpr char kManifestIndent[] = "    ";
constexpr std::uint32_t kManifestWriteFlags = 0;
// The written output is read back and compared in blocks of this size:
// small enough to stay in the core's cache and to cost a short manifest
// nothing to set up, large enough that a long one takes few reads.
constexpr std::size_t kReadBackBlockSizeInBytes = std::size_t{64} << 10;

void RecordOpenFailure(const std::wstring& path, int error) {
  RecordError(L"Failed to open " + path + L" " + ToWide(FileErrorText(error)));
}

// Records prefix + ":" + the result's text, or the prefix alone for a result
// without text.
void StageFailureReport(StageResult result, std::string_view prefix) {
  std::string message(prefix);
  if (const std::string_view text = StageFailureText(result); !text.empty()) {
    message += ":";
    message += text;
  }
  RecordError(ToWide(message));
}

// Opens the output's directory, checks the output against the guard through
// it and creates the new file there. Nothing at the output path changes.
StageResult OpenOutput(const std::wstring& outfile, const OutputGuard& guard,
                       ReplacementFile& target) {
  if (const int error = target.OpenDirectory(OpenablePath(outfile)); error != 0) {
    RecordOpenFailure(outfile, error);
    return StageResult::kOutputNotOpened;
  }
  if (const StageResult refused = RefuseProtectedOutput(outfile, target, guard);
      refused != StageResult::kGoOn) {
    return refused;
  }
  if (const int error = target.Create(); error != 0) {
    RecordOpenFailure(outfile, error);
    return StageResult::kOutputNotOpened;
  }
  return StageResult::kGoOn;
}

// The signed message could not be written whole or put in place: the output
// keeps what it held, and standard error says why.
StageResult SignatureNotWritten(const std::wstring& outfile, int error) {
  NoticeLine(L"cannot write " + outfile + L": " + ToWide(FileErrorText(error)));
  StageFailureReport(StageResult::kSignatureNotWritten, "Failed");
  return StageResult::kSignatureNotWritten;
}

// A token that does not cover the signature read back fails the check after
// writing like a signature that does not verify.
StageResult TimestampsHold(const std::optional<std::string>& problem) {
  if (!problem) return StageResult::kGoOn;
  RecordError(L"The timestamp written does not hold: " + ToWide(*problem));
  return StageResult::kVerifyFailed;
}

// Reads the whole new file back and checks that it is the message just
// signed, saying why not when it is not.
StageResult CheckWholeFile(const std::wstring& outfile, int fd, std::span<const std::uint8_t> text,
                           std::span<const std::uint8_t> digestInfo) {
  std::vector<std::uint8_t> signedMessage;
  if (const int error = ReadAllFrom(fd, signedMessage); error != 0) {
    RecordError(ReadErrorMessage(outfile, error));
    return StageResult::kOutputReadWriteFailed;
  }
  bool contentMatches = false;
  const OpenSslErrorScope errorScope;
  const CryptoResult code = VerifySignedMessageOf(signedMessage, text, digestInfo, contentMatches);
  if (code == CryptoResult::kOk) return TimestampsHold(TimestampProblem(signedMessage));
  if (code == CryptoResult::kSignatureMismatch && !contentMatches) {
    RecordError(L"The signed content differs from the manifest written");
  } else {
    ReportCryptoError(code);
  }
  return StageResult::kVerifyFailed;
}

// Reads the file from its start in blocks and compares it with `expected`
// (the pieces one after the other), keeping the bytes read for the pieces
// `kept` marks; false at the first difference, a read error, or a file of
// another length.
bool ReadsBackAs(int fd, std::span<const std::span<const std::uint8_t>> expected,
                 std::span<std::vector<std::uint8_t>* const> kept) {
  if (::lseek(fd, 0, SEEK_SET) != 0) return false;
  AdviseSequentialRead(fd);
  // Not cleared first: every byte compared is one just read.
  const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(kReadBackBlockSizeInBytes);
  for (std::size_t piece = 0; piece < expected.size(); ++piece) {
    for (std::size_t done = 0; done < expected[piece].size();) {
      const std::size_t want = std::min(kReadBackBlockSizeInBytes, expected[piece].size() - done);
      if (ReadFully(fd, block.get(), want) != static_cast<ssize_t>(want)) return false;
      const std::span<const std::uint8_t> got(block.get(), want);
      if (!std::equal(got.begin(), got.end(), expected[piece].begin() + done)) return false;
      if (kept[piece] != nullptr) kept[piece]->insert(kept[piece]->end(), got.begin(), got.end());
      done += want;
    }
  }
  // Anything after the message would be content that no signature covers.
  return ReadFully(fd, block.get(), 1) == 0;
}

// Signs the text from memory, writes the message to the new file, checks it
// there through the file's descriptor and only then puts it in place of the
// output; every failure leaves the output as it was.
StageResult SignCheckAndReplace(std::string_view xmlText, const std::wstring& outfile,
                                const SignerChoice& signer, ReplacementFile& target,
                                std::span<const std::uint8_t> textDigest) {
  const std::span<const std::uint8_t> text = BytesOf(xmlText);
  // One digest of the text serves the signature and the check alike.
  const std::vector<std::uint8_t> digestInfo = textDigest.empty()
                                                   ? DigestInfo(signer.digest, text)
                                                   : DigestInfoOfDigest(signer.digest, textDigest);
  if (digestInfo.empty()) {
    ReportCryptoError(CryptoResult::kCannotSign);
    return StageResult::kSigningFailed;
  }
  SignedMessageFrame frame;
  // The crypto service records why; a second line would only repeat it.
  if (!SignAsChosen(signer, text.size(), digestInfo, frame)) return StageResult::kSigningFailed;
  const std::span<const std::uint8_t> pieces[] = {frame.head, text, frame.tail};
  if (const int error = target.Write(pieces); error != 0)
    return SignatureNotWritten(outfile, error);
  if (const StageResult checked =
          CheckWrittenMessage(outfile, target.Fd(), xmlText, digestInfo, frame);
      checked != StageResult::kGoOn) {
    StageFailureReport(checked, "Error verifying signature ");
    return checked;
  }
  if (const int error = target.Commit(); error != 0) return SignatureNotWritten(outfile, error);
  return StageResult::kGoOn;
}

}  // namespace

std::string ManifestText(std::unique_ptr<xmldoc::Document> document, std::size_t capacityHint,
                         const std::function<void(std::size_t)>& released,
                         std::span<const xmldoc::Attribute* const> marked,
                         std::vector<std::size_t>* valueOffsets) {
  std::string xmlText;
  xmlText.reserve(capacityHint);
  xmldoc::WriteContext context(xmlText, kManifestIndent, kManifestWriteFlags);
  context.markedAttributes = marked;
  context.valueOffsets = valueOffsets;
  xmldoc::WriteReleasing(std::move(document), context, released);
  return xmlText;
}

StageResult SignAndWriteText(std::string_view xmlText, const std::wstring& outfile,
                             const SignerChoice& signer, const OutputGuard& guard,
                             std::span<const std::uint8_t> textDigest) {
  ReplacementFile target;
  if (const StageResult opened = OpenOutput(outfile, guard, target); opened != StageResult::kGoOn)
    return opened;
  return SignCheckAndReplace(xmlText, outfile, signer, target, textDigest);
}

StageResult WriteTextFile(std::string_view text, const std::wstring& path,
                          const OutputGuard& guard) {
  ReplacementFile target;
  if (const StageResult opened = OpenOutput(path, guard, target); opened != StageResult::kGoOn)
    return opened;
  const std::span<const std::uint8_t> pieces[] = {BytesOf(text)};
  int error = target.Write(pieces);
  if (error == 0) error = target.Commit();
  if (error == 0) return StageResult::kGoOn;
  RecordError(L"Error writing the file " + path + L" [" + ToWide(FileErrorText(error)) + L"]");
  return StageResult::kOutputNotOpened;
}

// The file is compared with the message in blocks, then the signature it
// carries is checked with the content left out; the text's digest stands
// for the content's only because the two compared equal byte for byte. Any
// difference reads the file again as a whole to tell why.
StageResult CheckWrittenMessage(const std::wstring& outfile, int fd, std::string_view xmlText,
                                std::span<const std::uint8_t> digestInfo,
                                const SignedMessageFrame& frame) {
  const std::span<const std::uint8_t> text = BytesOf(xmlText);
  SignedMessageFrame readBack;
  const std::span<const std::uint8_t> expected[] = {frame.head, text, frame.tail};
  std::vector<std::uint8_t>* const kept[] = {&readBack.head, nullptr, &readBack.tail};
  if (ReadsBackAs(fd, expected, kept)) {
    const OpenSslErrorScope errorScope;
    if (VerifySignedFrame(readBack, digestInfo) == CryptoResult::kOk)
      return TimestampsHold(TimestampProblem(readBack));
  }
  return CheckWholeFile(outfile, fd, text, digestInfo);
}

}  // namespace brevick
