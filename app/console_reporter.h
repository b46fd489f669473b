// app/console_reporter.h: the Reporter that the lower folders get from app/:
// their lines go to the console, filtered and gated by the run's verbosity,
// their errors to the run's error list, and the hashing counts to the
// one-line progress display, which steps aside for every line.
#pragma once

#include <memory>

#include "app/progress_meter.h"
#include "base/reporter.h"

namespace brevick {

class ConsoleReporter final : public Reporter {
 public:
  void Progress(std::wstring_view line) override;
  void Debug(std::wstring_view line) override;
  void Notice(std::wstring_view line) override;
  void Error(std::wstring_view line) override;

  void HashingStarted(std::uint64_t fileTotal, std::uint64_t byteTotal) override;
  void HashingAdvanced(std::uint64_t filesDone, std::uint64_t bytesDone) override;
  void HashingEnded() override;

 private:
  // Erases the progress display, if it is drawn, before a line is written.
  void ClearDisplay();

  std::unique_ptr<ProgressMeter> meter;
};

}  // namespace brevick
