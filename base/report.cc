// base/report.cc: the console writer and the error list.
#include "base/report.h"

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

void Emit(std::string line, bool flush) {
  line.push_back('\n');
  if (captureTarget != nullptr) {
    captureTarget->append(line);
    return;
  }
  // A closed or full standard output must not end the run: the exit code
  // still has to tell the caller what happened, so write errors are dropped.
  std::fwrite(line.data(), 1, line.size(), stdout);
  if (flush) std::fflush(stdout);
}

}  // namespace

void NoticeLine(std::wstring_view text) {
  std::string line = "brevick: " + ToUtf8(text) + "\n";
  if (errorCaptureTarget != nullptr) {
    errorCaptureTarget->append(line);
    return;
  }
  std::fflush(stdout);  // keeps the two streams in order on a shared terminal
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void SetVerbosity(Verbosity verbosity) { currentVerbosity = verbosity; }

void WriteLine(std::wstring_view text) { Emit(ToUtf8(text), false); }

void WriteLineUtf8(std::string_view text) { Emit(std::string(text), false); }

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
