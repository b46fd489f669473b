// tests/support/recording_reporter.h: a Reporter that keeps every line it is
// told, with its kind, so that tests of the folders below app/ read what a
// stage reported without touching the process-wide console.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/reporter.h"

namespace brevick::testing {

class RecordingReporter final : public Reporter {
 public:
  enum class Kind { kProgress, kDebug, kNotice, kError };
  struct Line {
    Kind kind;
    std::string text;  // UTF-8
  };

  void Progress(std::wstring_view line) override { Add(Kind::kProgress, line); }
  void Debug(std::wstring_view line) override { Add(Kind::kDebug, line); }
  void Notice(std::wstring_view line) override { Add(Kind::kNotice, line); }
  void Error(std::wstring_view line) override { Add(Kind::kError, line); }

  // The standard output lines a run with these flags would show: "" none,
  // "P" progress lines and errors, "D" debug lines too.
  std::vector<std::string> Shown(std::string_view flags) const;
  std::vector<std::string> Of(Kind kind) const;
  std::vector<std::string> Errors() const { return Of(Kind::kError); }
  std::vector<std::string> Notices() const { return Of(Kind::kNotice); }

  std::vector<Line> lines;

 private:
  void Add(Kind kind, std::wstring_view line);
};

}  // namespace brevick::testing
