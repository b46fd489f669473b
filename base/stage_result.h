// base/stage_result.h: what the pipeline's stages return. A stage result only
// decides where the pipeline stops; the run's outcome is the error list alone.
#pragma once

#include <string_view>

namespace brevick {

// The numbers are part of the failure reports' history and of the test
// tables; only the results some stage really returns are listed.
enum class StageResult : int {
  kGoOn = 0,
  kOutputNotOpened = 2,        // the output file cannot be opened (or created)
  kOutputReadWriteFailed = 3,  // the output file cannot be read or written
  kManifestRejected = 4,       // the manifest cannot be read, or does not validate
  kSignatureNotWritten = 11,   // the signed message could not replace the text
  kStoreNotShown = 12,         // a listing showed no store
  kSigningFailed = 15,         // the crypto service could not sign
  kVerifyFailed = 16,          // the signed output does not verify
  kHashingFailed = 18,         // at least one module file was not hashed
};

// The text a failure report appends after ":" for the result; empty for the
// results whose report is a message of their own.
std::string_view StageFailureText(StageResult result);

}  // namespace brevick
