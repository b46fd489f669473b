// app/console_reporter.h: the Reporter that the lower folders get from app/:
// their lines go to the console, filtered and gated by the run's verbosity,
// and their errors to the run's error list.
#pragma once

#include "base/reporter.h"

namespace brevick {

class ConsoleReporter final : public Reporter {
 public:
  void Progress(std::wstring_view line) override;
  void Debug(std::wstring_view line) override;
  void Notice(std::wstring_view line) override;
  void Error(std::wstring_view line) override;
};

}  // namespace brevick
