// tests/support/recording_reporter.cc
#include "tests/support/recording_reporter.h"

#include "base/utf8.h"

namespace brevick::testing {

void RecordingReporter::Add(Kind kind, std::wstring_view line) {
  lines.push_back({kind, ToUtf8(line)});
}

std::vector<std::string> RecordingReporter::Shown(std::string_view flags) const {
  const bool progress = flags == "P" || flags == "D";
  const bool debug = flags == "D";
  std::vector<std::string> shown;
  for (const Line& line : lines) {
    const bool visible = line.kind == Kind::kDebug ? debug : line.kind != Kind::kNotice && progress;
    if (visible) shown.push_back(line.text);
  }
  return shown;
}

std::vector<std::string> RecordingReporter::Of(Kind kind) const {
  std::vector<std::string> texts;
  for (const Line& line : lines) {
    if (line.kind == kind) texts.push_back(line.text);
  }
  return texts;
}

}  // namespace brevick::testing
