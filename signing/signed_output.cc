// signing/signed_output.cc: writing, signing and verifying the output file.
#include "signing/signed_output.h"

#include <cstdint>
#include <vector>

#include "base/file_io.h"
#include "base/report.h"
#include "base/utf8.h"
#include "signing/crypto.h"
#include "signing/signer.h"
#include "xml/document.h"
#include "xml/writer.h"

namespace brevick {
namespace {

// One level of indentation in the signed manifest text.
constexpr char kManifestIndent[] = "    ";
constexpr std::uint32_t kManifestWriteFlags = 0;

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

// Writes the unsigned text. A write that fails after the open counts as a
// failed open: the file is left empty, and nothing after this step can work.
StageResult WriteText(std::string_view xmlText, const std::wstring& outfile) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(xmlText.data());
  const FileResult result = WriteRegularFile(OpenablePath(outfile), {bytes, xmlText.size()});
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

bool WriteWholeFile(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  return WriteRegularFile(OpenablePath(path), bytes).Ok();
}

// Signs the file's bytes in place; returns kGoOn, kOutputNotOpened (cannot
// be read), kSignatureNotWritten (the unsigned text is put back) or
// kSigningFailed (the reason is recorded).
StageResult SignFile(const std::wstring& path, const SignerChoice& signer) {
  std::vector<std::uint8_t> text;
  if (ReadWholeFile(path, text) != StageResult::kGoOn) return StageResult::kOutputNotOpened;
  std::vector<std::uint8_t> signedMessage;
  if (!SignAsChosen(signer, text, signedMessage)) return StageResult::kSigningFailed;
  if (!WriteWholeFile(path, signedMessage)) {
    // Opening with truncation has wiped the text already: put it back, so
    // that a failed signing leaves the unsigned manifest and nothing is lost.
    WriteWholeFile(path, text);
    return StageResult::kSignatureNotWritten;
  }
  return StageResult::kGoOn;
}

}  // namespace

StageResult SignAndWrite(const xmldoc::Document& document, const std::wstring& outfile,
                         const SignerChoice& signer) {
  return SignAndWriteText(xmldoc::ToText(document, kManifestIndent, kManifestWriteFlags), outfile,
                          signer);
}

StageResult SignAndWriteText(std::string_view xmlText, const std::wstring& outfile,
                             const SignerChoice& signer) {
  if (const StageResult result = WriteText(xmlText, outfile); result != StageResult::kGoOn) {
    return result;
  }
  const StageResult signResult = SignFile(outfile, signer);
  if (signResult == StageResult::kGoOn) {
    const StageResult verifyResult = VerifyFile(outfile);
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

StageResult VerifyFile(const std::wstring& path) {
  std::vector<std::uint8_t> signedMessage;
  if (const StageResult result = ReadWholeFile(path, signedMessage); result != StageResult::kGoOn) {
    return result;
  }
  std::vector<std::uint8_t> content;
  if (const CryptoResult code = CryptoAPI().Verify(signedMessage, content);
      code != CryptoResult::kOk) {
    ReportCryptoError(code);
    return StageResult::kVerifyFailed;
  }
  return StageResult::kGoOn;
}

}  // namespace brevick
