// app/main.cc: turns the process's UTF-8 arguments into wide text and runs.
#include <csignal>
#include <string>
#include <vector>

#include "app/run.h"
#include "base/utf8.h"

int main(int argc, char** argv) {
  // A reader that goes away (`brevick -L | head`) must not kill the run
  // before the output file is complete; failed writes are ignored instead.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::wstring> args;
  try {
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) args.push_back(brevick::ToWide(argv[i]));
  } catch (...) {
    return brevick::kExitFailure;
  }
  return brevick::ProgramEntry(args);
}
