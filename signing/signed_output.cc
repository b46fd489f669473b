// signing/signed_output.cc: writing, signing and verifying the output file.
#include "signing/signed_output.h"

#include <array>

#include "app/file_io.h"
#include "app/report.h"
#include "app/run_settings.h"
#include "app/utf8.h"
#include "signing/crypto.h"
#include "xml/document.h"
#include "xml/writer.h"

namespace brevick {
namespace {

// One level of indentation in the signed manifest text.
constexpr char kManifestIndent[] = "    ";
constexpr std::uint32_t kManifestWriteFlags = 0;

// The operator sees these texts exactly as they stand, the capital "Find"
// included. Codes 5 and 10 share a text.
constexpr std::array<const char*, 18> kStageFailureTexts = {
    "",                                                                  // 0
    "Can't Find the specified file.",                                    // 1
    "Can't open the specified file.",                                    // 2
    "Error while reading or writing a file.",                            // 3
    "Error while parsing the XML.",                                      // 4
    "Error while creating the hash of the XML data.",                    // 5
    "Can't acquire the cryptographic context. Cryptography services might not be installed.",  // 6
    "Error while hashing the XML data.",                                 // 7
    "Error determining the length of the signature required.",           // 8
    "",                                                                  // 9
    "Error while creating the hash of the XML data.",                    // 10
    "Error writing the signature to the file.",                          // 11
    "Can't open the cryptographic store.",                               // 12
    "",                                                                  // 13
    "",                                                                  // 14
    "Can't sign the XML data.",                                          // 15
    "Error while attempting to verify the signature.",                   // 16
    "Error while attempting to find the signature.",                     // 17
};
static_assert(kStageFailureTexts.size() == 18, "codes 0 to 17 have a place in the table");

void RecordOpenFailure(const std::wstring& path, int error) {
  RecordError(L"Failed to open " + path + L" " + ToWide(FileErrorText(error)));
}

// Writes the unsigned text. A write that fails after the open counts as a
// failed open: the file is left empty, and nothing after this step can work.
int WriteText(std::string_view xmlText, const std::wstring& outfile) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(xmlText.data());
  const FileResult result = WriteRegularFile(OpenablePath(outfile), {bytes, xmlText.size()});
  if (result.Ok()) return 0;
  if (!result.opened) {
    RecordOpenFailure(outfile, result.error);
  } else {
    RecordError(L"Error writing the file " + outfile + L" [" + ToWide(FileErrorText(result.error)) + L"]");
  }
  return kStageOutputNotOpened;
}

}  // namespace

int SignAndWrite(xmldoc::Document& document, const std::wstring& outfile, const std::wstring& certSubjectName) {
  std::string xmlText;
  xmldoc::WriteContext context(xmlText, kManifestIndent, kManifestWriteFlags);
  document.Write(context);
  return SignAndWriteText(xmlText, outfile, certSubjectName);
}

int SignAndWriteText(std::string_view xmlText, const std::wstring& outfile, const std::wstring& certSubjectName) {
  if (const int result = WriteText(xmlText, outfile); result != 0) return result;
  const int signResult = SignFile(outfile, certSubjectName);
  if (signResult == 0) {
    const int verifyResult = VerifyFile(outfile);
    if (verifyResult != 0) StageFailureReport(verifyResult, "Error verifying signature ");
    return verifyResult;
  }
  // The crypto service has said why in its own words already.
  if (signResult != kStageSigningFailed) StageFailureReport(signResult, "Failed");
  return signResult;
}

int SignFile(const std::wstring& path, const std::wstring& certSubjectName) {
  std::vector<std::uint8_t> text;
  if (ReadWholeFile(path, text) != 0) return kStageOutputNotOpened;
  const std::wstring storeName = Settings().storename.value_or(L"");
  std::vector<std::uint8_t> signedMessage;
  if (const int code = CryptoAPI().Sign(certSubjectName, text, signedMessage, storeName); code != 0) {
    ReportCryptoError(code);
    return kStageSigningFailed;
  }
  if (WriteWholeFile(path, signedMessage) != 0) {
    // Opening with truncation has wiped the text already: put it back, so
    // that a failed signing leaves the unsigned manifest and nothing is lost.
    WriteWholeFile(path, text);
    return kStageSignatureNotWritten;
  }
  return 0;
}

int VerifyFile(const std::wstring& path) {
  std::vector<std::uint8_t> signedMessage;
  if (const int result = ReadWholeFile(path, signedMessage); result != 0) return result;
  std::vector<std::uint8_t> content;
  if (const int code = CryptoAPI().Verify(signedMessage, content); code != 0) {
    ReportCryptoError(code);
    return kStageVerifyFailed;
  }
  return 0;
}

int ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes) {
  const FileResult result = ReadRegularFile(AT_FDCWD, OpenablePath(path), bytes);
  if (result.Ok()) return 0;
  if (!result.opened) {
    RecordOpenFailure(path, result.error);
    return kStageOutputNotOpened;
  }
  RecordError(ReadErrorMessage(path, result.error));
  return kStageOutputReadWriteFailed;
}

int WriteWholeFile(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  return WriteRegularFile(OpenablePath(path), bytes).Ok() ? 0 : kStageSignatureNotWritten;
}

void StageFailureReport(int code, std::string_view prefix) {
  std::string message(prefix);
  if (code >= 0 && static_cast<std::size_t>(code) < kStageFailureTexts.size() &&
      *kStageFailureTexts[static_cast<std::size_t>(code)] != '\0') {
    message += ":";
    message += kStageFailureTexts[static_cast<std::size_t>(code)];
  }
  RecordError(ToWide(message));
}

}  // namespace brevick
