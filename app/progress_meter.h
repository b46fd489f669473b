// app/progress_meter.h: the one-line hashing progress on standard error for
// an operator watching a terminal: files hashed of the total, bytes, rate and
// time left, redrawn in place and erased when hashing ends. The hashing step
// only tells its counts to the Reporter; drawing is the console's job, so it
// lives here. It never touches standard output, so what scripts read there
// stays the same.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace brevick {

class ProgressMeter {
 public:
  // The totals are what the meter counts towards; the byte total may be an
  // estimate. Nothing is drawn before the first Update.
  ProgressMeter(std::uint64_t fileCount, std::uint64_t byteCount);
  // Erases the line.
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  // Redraws with the counts so far, at most a few times a second.
  void Update(std::uint64_t filesDone, std::uint64_t bytesDone);
  // Erases the line so that another line can be written on the terminal; the
  // next Update that is due draws it again.
  void Hide();

  // The line drawn for these counts after `elapsed`, without the terminal
  // controls around it.
  static std::string Text(std::uint64_t filesDone, std::uint64_t fileTotal, std::uint64_t bytesDone,
                          std::uint64_t byteTotal, std::chrono::steady_clock::duration elapsed);

 private:
  bool shown = false;
  std::uint64_t totalFiles;
  std::uint64_t totalBytes;
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point lastDrawn;
};

}  // namespace brevick
