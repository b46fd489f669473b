// signing/signed_output.h: the tool's main output. The prepared manifest is
// written as XML text, read back, signed, written over with the signed
// message and verified. Failures are recorded here; the caller gets only a
// stage result. What stands in the output file after a failure:
//   the file cannot be opened or written for the text     nothing (empty)
//   reading back, signing, or writing the signed message   the unsigned text
//   verifying fails                                        the signed message
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xmldoc {
class Document;
}

namespace brevick {

// Stage results of the signed output (the codes in between have texts too,
// in the failure report, but are never produced).
inline constexpr int kStageOutputNotOpened = 2;
inline constexpr int kStageOutputReadWriteFailed = 3;
inline constexpr int kStageSignatureNotWritten = 11;
inline constexpr int kStageSigningFailed = 15;
inline constexpr int kStageVerifyFailed = 16;

// Writes, signs and verifies; returns 0, 2, 3, 11, 15 or 16. The store is
// Settings().storename, "MY" when absent or empty.
int SignAndWrite(xmldoc::Document& document, const std::wstring& outfile, const std::wstring& certSubjectName);

// The same for XML text already written out: what SignAndWrite does after Write.
int SignAndWriteText(std::string_view xmlText, const std::wstring& outfile,
                     const std::wstring& certSubjectName);

// Signs the file's bytes in place; returns 0, 2 (cannot be read), 11 (the
// signed message cannot be written: the unsigned text is put back) or 15
// (the crypto service failed; its text is recorded).
int SignFile(const std::wstring& path, const std::wstring& certSubjectName);

// Reads and verifies the file; returns 0, 2 or 3 (as ReadWholeFile) or 16.
int VerifyFile(const std::wstring& path);

// Returns 0, or records why and returns 2 (cannot be opened) or 3 (cannot be
// read, or larger than 4 GiB - 1 bytes).
int ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes);

// Creates or empties the file and writes the bytes; returns 0 or 11. Records
// nothing: the caller's report says it.
int WriteWholeFile(const std::wstring& path, const std::vector<std::uint8_t>& bytes);

// Records prefix + ":" + the code's text, or the prefix alone for a code
// without text.
void StageFailureReport(int code, std::string_view prefix);

}  // namespace brevick
