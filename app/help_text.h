// app/help_text.h: the --help page, the one overview of every mode, option and
// exit code on the command line itself.
#pragma once

namespace brevick {

// Writes the help page to standard output. The usage text (PrintUsage) is a
// different thing: scripts compare it, so it stays as it is and where it is.
void PrintHelp();

}  // namespace brevick
