// base/stage_result.cc: the failure report texts of the stage results.
#include "base/stage_result.h"

#include <array>
#include <cstddef>

namespace brevick {
namespace {

struct StageText {
  StageResult result;
  std::string_view text;
};

// Release scripts match on these texts, the capital "Find" style included,
// so they are kept word for word. One row per result, in enum order.
constexpr std::array kStageTexts = {
    StageText{StageResult::kGoOn, ""},
    StageText{StageResult::kOutputNotOpened, "Can't open the specified file."},
    StageText{StageResult::kOutputReadWriteFailed, "Error while reading or writing a file."},
    StageText{StageResult::kManifestRejected, ""},
    StageText{StageResult::kSignatureNotWritten, "Error writing the signature to the file."},
    StageText{StageResult::kStoreNotShown, ""},
    StageText{StageResult::kSigningFailed, ""},  // the crypto service says why itself
    StageText{StageResult::kVerifyFailed, "Error while attempting to verify the signature."},
    StageText{StageResult::kHashingFailed, ""},
};

// The position of each result in the table. A result added to the enum
// without a case here stops the build (-Wswitch with -Werror), and the
// assertion below then asks for its row.
constexpr std::size_t RowOf(StageResult result) {
  switch (result) {
    case StageResult::kGoOn:
      return 0;
    case StageResult::kOutputNotOpened:
      return 1;
    case StageResult::kOutputReadWriteFailed:
      return 2;
    case StageResult::kManifestRejected:
      return 3;
    case StageResult::kSignatureNotWritten:
      return 4;
    case StageResult::kStoreNotShown:
      return 5;
    case StageResult::kSigningFailed:
      return 6;
    case StageResult::kVerifyFailed:
      return 7;
    case StageResult::kHashingFailed:
      return 8;
  }
  return kStageTexts.size();
}

constexpr bool TableCoversEnum() {
  for (std::size_t i = 0; i < kStageTexts.size(); ++i) {
    if (RowOf(kStageTexts[i].result) != i) return false;
  }
  return RowOf(StageResult::kHashingFailed) + 1 == kStageTexts.size();
}
static_assert(TableCoversEnum(), "one row per stage result, in enum order");

}  // namespace

std::string_view StageFailureText(StageResult result) {
  const std::size_t row = RowOf(result);
  return row < kStageTexts.size() ? kStageTexts[row].text : std::string_view();
}

}  // namespace brevick
