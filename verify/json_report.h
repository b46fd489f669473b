// verify/json_report.h: the verify report as JSON, for CI and installers.
// The fields are listed in the README ("Verifying a signed manifest"); the
// "version" field changes when a field changes meaning or goes away.
#pragma once

#include <string>
#include <string_view>

#include "verify/verify_report.h"

namespace brevick {

inline constexpr int kVerifyJsonVersion = 1;

// A JSON string literal, quotes included. Control characters, quotes and
// backslashes are escaped; bytes that are not well-formed UTF-8 become
// U+FFFD; C1 and bidirectional controls are written as \u escapes, so the
// text passes a console filter unchanged.
std::string JsonString(std::string_view text);

// The whole report, one object, ending in a line break.
std::string VerifyReportToJson(const VerifyReport& report);

}  // namespace brevick
