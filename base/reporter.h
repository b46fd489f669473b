// base/reporter.h: what a lower layer has to tell while it works. The folders
// below app/ never write to the console themselves; app/ hands them a
// Reporter that does, and tests hand them one that records.
#pragma once

#include <string_view>

namespace brevick {

class Reporter {
 public:
  virtual ~Reporter() = default;

  // Shown only with progress (-P or -D).
  virtual void Progress(std::wstring_view line) = 0;
  // Shown only with debug lines (-D).
  virtual void Debug(std::wstring_view line) = 0;
  // "brevick: " + line on standard error, whatever the verbosity.
  virtual void Notice(std::wstring_view line) = 0;
  // A progress line that is also added to the run's error list.
  virtual void Error(std::wstring_view line) = 0;
};

}  // namespace brevick
