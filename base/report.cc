// base/report.cc: the console writer and the error list.
#include "base/report.h"

#include <cerrno>
#include <cstdio>

#include "base/utf8.h"

namespace brevick {
namespace {

std::vector<std::wstring>& ErrorListStorage() {
  static std::vector<std::wstring> errors;
  return errors;
}

std::string* captureTarget = nullptr;       // set while a ConsoleCapture lives
std::string* errorCaptureTarget = nullptr;  // likewise, for standard error
Verbosity currentVerbosity;
int standardOutputError = 0;  // the first failed write to standard output

void NoteOutputFailure() {
  if (standardOutputError == 0) standardOutputError = errno != 0 ? errno : EIO;
}

void Emit(std::string_view text, bool flush) {
  std::string line = ConsoleSafe(text);
  line.push_back('\n');
  if (captureTarget != nullptr) {
    captureTarget->append(line);
    return;
  }
  // A closed or full standard output must not end the run: the exit code
  // still has to tell the caller what happened, so write errors are dropped.
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) NoteOutputFailure();
  if (flush && std::fflush(stdout) != 0) NoteOutputFailure();
}

}  // namespace

std::string ConsoleSafe(std::string_view text) {
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  std::string safe;
  safe.reserve(text.size());
  while (!text.empty()) {
    const Utf8Char decoded = DecodeUtf8(text);
    // An ill-formed byte goes too: a terminal could read it as a C1 control.
    if (!decoded.wellFormed || IsHiddenCharacter(decoded.codePoint)) {
      safe += kReplacement;
    } else {
      safe.append(text.substr(0, decoded.length));
    }
    text.remove_prefix(decoded.length);
  }
  return safe;
}

void NoticeLine(std::wstring_view text) {
  std::string line = "brevick: " + ConsoleSafe(ToUtf8(text)) + "\n";
  if (errorCaptureTarget != nullptr) {
    errorCaptureTarget->append(line);
    return;
  }
  std::fflush(stdout);  // keeps the two streams in order on a shared terminal
  std::fwrite(line.data(), 1, line.size(), stderr);
}

int WriteBytes(std::string_view bytes) {
  if (captureTarget != nullptr) {
    captureTarget->append(bytes);
    return 0;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) NoteOutputFailure();
  return FlushStandardOutput();
}

int FlushStandardOutput() {
  if (captureTarget == nullptr && std::fflush(stdout) != 0) NoteOutputFailure();
  return standardOutputError;
}

void SetVerbosity(Verbosity verbosity) { currentVerbosity = verbosity; }

void WriteLine(std::wstring_view text) { Emit(ToUtf8(text), false); }

void WriteLineUtf8(std::string_view text) { Emit(text, false); }

void ProgressLine(std::wstring_view text) {
  if (currentVerbosity.showProgress) Emit(ToUtf8(text), true);
}

void DebugLine(std::wstring_view text) {
  if (currentVerbosity.showDebug) Emit(ToUtf8(text), true);
}

void RecordError(std::wstring_view text) {
  ProgressLine(text);
  ErrorListStorage().emplace_back(text);
}

std::size_t ErrorCount() { return ErrorListStorage().size(); }

const std::vector<std::wstring>& Errors() { return ErrorListStorage(); }

void PrintErrorList() {
  for (const std::wstring& error : ErrorListStorage()) WriteLine(error);
}

ConsoleCapture::ConsoleCapture()
    : previousTarget(captureTarget),
      previousErrorTarget(errorCaptureTarget),
      previousVerbosity(currentVerbosity) {
  captureTarget = &text;
  errorCaptureTarget = &errorText;
  ErrorListStorage().clear();
}

ConsoleCapture::~ConsoleCapture() {
  captureTarget = previousTarget;
  errorCaptureTarget = previousErrorTarget;
  currentVerbosity = previousVerbosity;
  ErrorListStorage().clear();
}

}  // namespace brevick
