// base/reporter.h: what a lower layer has to tell while it works. The folders
// below app/ never write to the console themselves; app/ hands them a
// Reporter that does, and tests hand them one that records.
#pragma once

#include <cstdint>
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

  // The live count of module files hashed, for a display that an operator
  // watches: started once with the totals (the byte total may be an
  // estimate), advanced often, ended once. A reporter without such a display
  // ignores them; one with it keeps it out of the way of the lines above.
  virtual void HashingStarted(std::uint64_t /*fileTotal*/, std::uint64_t /*byteTotal*/) {}
  virtual void HashingAdvanced(std::uint64_t /*filesDone*/, std::uint64_t /*bytesDone*/) {}
  virtual void HashingEnded() {}
};

}  // namespace brevick
