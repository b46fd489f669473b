// app/run.h: the program's entry and the frame of every run.
#pragma once

#include <string>
#include <vector>

namespace brevick {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// Writes the banner, runs, and turns the outcome into the exit code.
// `args` holds the program name first, as invoked.
int ProgramEntry(const std::vector<std::wstring>& args);

// Parses the arguments, dispatches to one mode and writes the summary.
// True when the error list is empty at the end. Allocation failure anywhere
// in the mode is recorded as "Out of memory" and fails the run.
bool Run(const std::vector<std::wstring>& args);

}  // namespace brevick
