// app/console_reporter.cc
#include "app/console_reporter.h"

#include "base/report.h"

namespace brevick {

void ConsoleReporter::Progress(std::wstring_view line) { ProgressLine(line); }

void ConsoleReporter::Debug(std::wstring_view line) { DebugLine(line); }

void ConsoleReporter::Notice(std::wstring_view line) { NoticeLine(line); }

void ConsoleReporter::Error(std::wstring_view line) { RecordError(line); }

}  // namespace brevick
