// app/signed_output.cc: writing, signing and verifying the output file.
#include "app/signed_output.h"

#include <algorithm>
#include <cstdint>
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
// The written output is read back and compared in blocks of this size.
constexpr std::size_t kReadBackBlockSizeInBytes = std::size_t{1} << 20;

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

// Writes the unsigned text. A write that fails after the replacement file
// was created counts as a failed open: the output path keeps what it held,
// and nothing after this step can work.
StageResult WriteText(std::span<const std::uint8_t> text, const std::wstring& outfile) {
  const FileResult result = ReplaceFile(OpenablePath(outfile), text);
  if (result.Ok()) return StageResult::kGoOn;
  if (!result.opened) {
    RecordOpenFailure(outfile, result.error);
  } else {
    RecordError(L"Error writing the file " + outfile + L" [" + ToWide(FileErrorText(result.error)) +
                L"]");
  }
  return StageResult::kOutputNotOpened;
}

StageResult ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes) {
  const FileResult result = ReadRegularFile(AT_FDCWD, OpenablePath(path), bytes);
  if (result.Ok()) return StageResult::kGoOn;
  if (!result.opened) {
    RecordOpenFailure(path, result.error);
    return StageResult::kOutputNotOpened;
  }
  RecordError(ReadErrorMessage(path, result.error));
  return StageResult::kOutputReadWriteFailed;
}

// Signs the text from memory and replaces it on disk with the message;
// returns kGoOn, kSignatureNotWritten (the unsigned text stays) or
// kSigningFailed (the reason is recorded). The message is written around
// the text in place, so no second copy of the text is made.
StageResult SignText(std::span<const std::uint8_t> text, std::span<const std::uint8_t> digestInfo,
                     const std::wstring& path, const SignerChoice& signer,
                     SignedMessageFrame& frame) {
  if (!SignAsChosen(signer, text.size(), digestInfo, frame)) return StageResult::kSigningFailed;
  const std::span<const std::uint8_t> pieces[] = {frame.head, text, frame.tail};
  if (!ReplaceFile(OpenablePath(path), pieces).Ok()) return StageResult::kSignatureNotWritten;
  return StageResult::kGoOn;
}

// A token that does not cover the signature read back fails the check after
// writing like a signature that does not verify.
StageResult TimestampsHold(const std::optional<std::string>& problem) {
  if (!problem) return StageResult::kGoOn;
  RecordError(L"The timestamp written does not hold: " + ToWide(*problem));
  return StageResult::kVerifyFailed;
}

// Reads the whole output back and checks that it is the message just
// signed, saying why not when it is not.
StageResult VerifyWholeFile(const std::wstring& path, std::span<const std::uint8_t> text,
                            std::span<const std::uint8_t> digestInfo) {
  std::vector<std::uint8_t> signedMessage;
  if (const StageResult result = ReadWholeFile(path, signedMessage); result != StageResult::kGoOn) {
    return result;
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

// Reads the file in blocks and compares it with `expected` (the pieces one
// after the other), keeping the bytes read for the pieces `kept` marks;
// false at the first difference, a read error, or a file of another length.
bool ReadsBackAs(const std::wstring& path, std::span<const std::span<const std::uint8_t>> expected,
                 std::span<std::vector<std::uint8_t>* const> kept) {
  FileDescriptor file;
  if (!OpenRegularFile(AT_FDCWD, OpenablePath(path), file).Ok()) return false;
  AdviseSequentialRead(file.Get());
  std::vector<std::uint8_t> block(kReadBackBlockSizeInBytes);
  for (std::size_t piece = 0; piece < expected.size(); ++piece) {
    for (std::size_t done = 0; done < expected[piece].size();) {
      const std::size_t want = std::min(block.size(), expected[piece].size() - done);
      if (ReadFully(file.Get(), block.data(), want) != static_cast<ssize_t>(want)) return false;
      const std::span<const std::uint8_t> got(block.data(), want);
      if (!std::equal(got.begin(), got.end(), expected[piece].begin() + done)) return false;
      if (kept[piece] != nullptr) kept[piece]->insert(kept[piece]->end(), got.begin(), got.end());
      done += want;
    }
  }
  // Anything after the message would be content that no signature covers.
  return ReadFully(file.Get(), block.data(), 1) == 0;
}

// Sign and write once the output path is known not to be protected.
StageResult WriteSignAndVerify(std::string_view xmlText, const std::wstring& outfile,
                               const SignerChoice& signer) {
  const std::span<const std::uint8_t> text(reinterpret_cast<const std::uint8_t*>(xmlText.data()),
                                           xmlText.size());
  if (const StageResult result = WriteText(text, outfile); result != StageResult::kGoOn) {
    return result;
  }
  // One digest of the text serves the signature and the check after writing.
  const std::vector<std::uint8_t> digestInfo = DigestInfo(signer.digest, text);
  if (digestInfo.empty()) {
    ReportCryptoError(CryptoResult::kCannotSign);
    return StageResult::kSigningFailed;
  }
  SignedMessageFrame frame;
  const StageResult signResult = SignText(text, digestInfo, outfile, signer, frame);
  if (signResult == StageResult::kGoOn) {
    const StageResult verifyResult = VerifyWrittenMessage(outfile, xmlText, digestInfo, frame);
    if (verifyResult != StageResult::kGoOn) {
      StageFailureReport(verifyResult, "Error verifying signature ");
    }
    return verifyResult;
  }
  // The crypto service has recorded the reason already; a second line would
  // only repeat it.
  if (signResult != StageResult::kSigningFailed) StageFailureReport(signResult, "Failed");
  return signResult;
}

}  // namespace

StageResult SignAndWrite(const xmldoc::Document& document, const std::wstring& outfile,
                         const SignerChoice& signer, const OutputGuard& guard) {
  if (const StageResult refused = RefuseProtectedOutput(outfile, guard);
      refused != StageResult::kGoOn) {
    return refused;
  }
  return WriteSignAndVerify(ManifestText(document), outfile, signer);
}

std::string ManifestText(const xmldoc::Document& document, std::size_t capacityHint) {
  std::string xmlText;
  xmlText.reserve(capacityHint);
  xmldoc::WriteContext context(xmlText, kManifestIndent, kManifestWriteFlags);
  document.Write(context);
  return xmlText;
}

std::string ManifestText(std::unique_ptr<xmldoc::Document> document, std::size_t capacityHint,
                         const std::function<void(std::size_t)>& released) {
  std::string xmlText;
  xmlText.reserve(capacityHint);
  xmldoc::WriteContext context(xmlText, kManifestIndent, kManifestWriteFlags);
  xmldoc::WriteReleasing(std::move(document), context, released);
  return xmlText;
}

StageResult SignAndWriteText(std::string_view xmlText, const std::wstring& outfile,
                             const SignerChoice& signer, const OutputGuard& guard) {
  if (const StageResult refused = RefuseProtectedOutput(outfile, guard);
      refused != StageResult::kGoOn) {
    return refused;
  }
  return WriteSignAndVerify(xmlText, outfile, signer);
}

// The file is compared with the message in blocks, then the signature it
// carries is checked with the content left out; the text's digest stands
// for the content's only because the two compared equal byte for byte. Any
// difference reads the file again as a whole to tell why.
StageResult VerifyWrittenMessage(const std::wstring& path, std::string_view xmlText,
                                 std::span<const std::uint8_t> digestInfo,
                                 const SignedMessageFrame& frame) {
  const std::span<const std::uint8_t> text(reinterpret_cast<const std::uint8_t*>(xmlText.data()),
                                           xmlText.size());
  SignedMessageFrame readBack;
  const std::span<const std::uint8_t> expected[] = {frame.head, text, frame.tail};
  std::vector<std::uint8_t>* const kept[] = {&readBack.head, nullptr, &readBack.tail};
  if (ReadsBackAs(path, expected, kept)) {
    const OpenSslErrorScope errorScope;
    if (VerifySignedFrame(readBack, digestInfo) == CryptoResult::kOk)
      return TimestampsHold(TimestampProblem(readBack));
  }
  return VerifyWholeFile(path, text, digestInfo);
}

StageResult VerifyFile(const std::wstring& path) {
  std::vector<std::uint8_t> signedMessage;
  if (const StageResult result = ReadWholeFile(path, signedMessage); result != StageResult::kGoOn) {
    return result;
  }
  std::vector<std::uint8_t> content;
  if (const CryptoResult code = VerifySignedMessage(signedMessage, content);
      code != CryptoResult::kOk) {
    ReportCryptoError(code);
    return StageResult::kVerifyFailed;
  }
  return StageResult::kGoOn;
}

}  // namespace brevick
