// signing/signed_output.h: the tool's main output. The prepared manifest is
// written as XML text, read back, signed, written over with the signed
// message and verified. Failures are recorded here; the caller gets only a
// stage result. What stands in the output file after a failure:
//   the file cannot be opened or written for the text     nothing (empty)
//   reading back, signing, or writing the signed message   the unsigned text
//   verifying fails                                        the signed message
#pragma once

#include <string>
#include <string_view>

#include "base/stage_result.h"
#include "signing/signer_choice.h"

namespace xmldoc {
class Document;
}

namespace brevick {

// Writes, signs and verifies; returns kGoOn, kOutputNotOpened,
// kOutputReadWriteFailed, kSignatureNotWritten, kSigningFailed or
// kVerifyFailed.
StageResult SignAndWrite(const xmldoc::Document& document, const std::wstring& outfile,
                         const SignerChoice& signer);

// The same for XML text already written out: what SignAndWrite does after
// writing the document.
StageResult SignAndWriteText(std::string_view xmlText, const std::wstring& outfile,
                             const SignerChoice& signer);

// Reads and verifies the file; returns kGoOn, kOutputNotOpened,
// kOutputReadWriteFailed or kVerifyFailed, with the reason recorded.
StageResult VerifyFile(const std::wstring& path);

}  // namespace brevick
