// app/progress_meter.cc: the hashing progress line.
#include "app/progress_meter.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <string_view>

namespace brevick {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
// Back to the line's start, and erase to its end.
constexpr std::string_view kEraseLine = "\r\x1b[K";

void WriteToTerminal(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;  // a display only: nothing to report
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string Mebibytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

ProgressMeter::ProgressMeter(std::uint64_t fileCount, std::uint64_t byteCount)
    : totalFiles(fileCount),
      totalBytes(byteCount),
      start(std::chrono::steady_clock::now()),
      lastDrawn(start - kRedrawInterval) {}

ProgressMeter::~ProgressMeter() { Hide(); }

void ProgressMeter::Update(std::uint64_t filesDone, std::uint64_t bytesDone) {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastDrawn < kRedrawInterval) return;
  lastDrawn = now;
  std::string line(kEraseLine);
  line += Text(filesDone, totalFiles, bytesDone, totalBytes, now - start);
  WriteToTerminal(line);
  shown = true;
}

void ProgressMeter::Hide() {
  if (!shown) return;
  WriteToTerminal(kEraseLine);
  shown = false;
}

std::string ProgressMeter::Text(std::uint64_t filesDone, std::uint64_t fileTotal,
                                std::uint64_t bytesDone, std::uint64_t byteTotal,
                                std::chrono::steady_clock::duration elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  std::string text = "brevick: hashed " + std::to_string(filesDone) + " of " +
                     std::to_string(fileTotal) + " files, " + Mebibytes(bytesDone) + " of " +
                     Mebibytes(byteTotal) + " MiB";
  if (seconds <= 0 || bytesDone == 0) return text;
  const double rate = static_cast<double>(bytesDone) / seconds;
  text += ", " + Mebibytes(static_cast<std::uint64_t>(rate)) + " MiB/s";
  if (byteTotal > bytesDone) {
    const auto left = static_cast<std::uint64_t>(static_cast<double>(byteTotal - bytesDone) / rate);
    char clock[32];
    std::snprintf(clock, sizeof clock, "%" PRIu64 ":%02" PRIu64, left / 60, left % 60);
    text += ", ";
    text += clock;
    text += " left";
  }
  return text;
}

}  // namespace brevick
