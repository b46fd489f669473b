// app/console_reporter.cc
#include "app/console_reporter.h"

#include "base/report.h"

namespace brevick {

void ConsoleReporter::Progress(std::wstring_view line) {
  ClearDisplay();
  ProgressLine(line);
}

void ConsoleReporter::Debug(std::wstring_view line) {
  ClearDisplay();
  DebugLine(line);
}

void ConsoleReporter::Notice(std::wstring_view line) {
  ClearDisplay();
  NoticeLine(line);
}

void ConsoleReporter::Error(std::wstring_view line) {
  ClearDisplay();
  RecordError(line);
}

void ConsoleReporter::HashingStarted(std::uint64_t fileTotal, std::uint64_t byteTotal) {
  meter = std::make_unique<ProgressMeter>(fileTotal, byteTotal);
}

void ConsoleReporter::HashingAdvanced(std::uint64_t filesDone, std::uint64_t bytesDone) {
  if (meter) meter->Update(filesDone, bytesDone);
}

// The meter erases its line as it goes.
void ConsoleReporter::HashingEnded() { meter.reset(); }

void ConsoleReporter::ClearDisplay() {
  if (meter) meter->Hide();
}

}  // namespace brevick
