// base/report.h: console reporting and the run-wide error list. Every line the
// operator sees goes out through here, UTF-8 encoded, on standard output.
//
// A line is exactly the text plus "\n": no prefix, no level word. Failures at
// tool level are collected here, never thrown; the run fails exactly when the
// error list is not empty at the end.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brevick {

// Which optional lines reach the console. Set once by the command line; the
// lower layers only write lines and never ask.
struct Verbosity {
  bool showProgress = false;  // progress lines
  bool showDebug = false;     // debug lines
};
void SetVerbosity(Verbosity verbosity);

// The text as it may reach a terminal: every hidden character (IsHiddenCharacter:
// controls but tab, CR and LF included since only the writer ends lines, the
// bidirectional marks and controls, the line and paragraph separators) and
// every byte that is not well-formed UTF-8 becomes U+FFFD. Every console line
// passes here.
std::string ConsoleSafe(std::string_view text);

// Written whatever the output flags: usage, listings, the summary.
void WriteLine(std::wstring_view text);
// A line that is already UTF-8, such as the banner.
void WriteLineUtf8(std::string_view text);

// Bytes exactly as given, no filter and no line end added (a document
// printed whole), flushed. 0, or the errno of the failed write.
int WriteBytes(std::string_view bytes);
// Flushes standard output: 0, or the errno of a write to it that failed
// since the run began (closed, or a full device).
int FlushStandardOutput();

// Written (and flushed) only when progress is shown.
void ProgressLine(std::wstring_view text);
// Written (and flushed) only when debug lines are shown.
void DebugLine(std::wstring_view text);

// "brevick: " + text on standard error, whatever the verbosity: warnings,
// reasons and everything else that standard output's fixed texts lack.
void NoticeLine(std::wstring_view text);

// Writes the text as a progress line, then appends it to the error list.
// Empty and repeated texts are kept as they are.
void RecordError(std::wstring_view text);

std::size_t ErrorCount();
const std::vector<std::wstring>& Errors();
// Every recorded error in order, one line each, whatever the flags.
void PrintErrorList();

// Sends console output to a string instead of standard output while it lives,
// and starts a fresh error list; for tests and fuzz targets. An inner capture
// hands the console back to the outer one when it ends, and the verbosity is
// put back as it was when the capture began.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  const std::string& Text() const { return text; }
  // What went to standard error meanwhile.
  const std::string& ErrorText() const { return errorText; }
  void Clear() { text.clear(); }

 private:
  std::string text;
  std::string errorText;
  std::string* previousTarget;
  std::string* previousErrorTarget;
  Verbosity previousVerbosity;
};

}  // namespace brevick
