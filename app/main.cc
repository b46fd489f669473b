// app/main.cc: turns the process's arguments into wide text and runs.
#include <fcntl.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "app/run.h"
#include "base/utf8.h"

int main(int argc, char** argv) {
  // A standard stream that the caller closed keeps its number taken, by a
  // descriptor that cannot be written: a file opened later must never become
  // standard output, and a report written there must still fail.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  // A reader that goes away (`brevick -L | head`) must not kill the run
  // before the output file is complete; failed writes are ignored instead.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::wstring> args;
  try {
    args.reserve(static_cast<std::size_t>(argc));
    // Arguments keep their bytes: a path that is not UTF-8 opens as given.
    for (int i = 0; i < argc; ++i) args.push_back(brevick::ArgumentToWide(argv[i]));
  } catch (...) {
    return brevick::kExitFailure;
  }
  return brevick::ProgramEntry(args);
}
