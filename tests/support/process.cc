// tests/support/process.cc
#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace brevick::testing {
namespace {

// Reads both pipes to the end together, so a chatty child never blocks.
void Drain(int outFd, int errFd, ProcessResult& result) {
  std::array<pollfd, 2> fds{{{outFd, POLLIN, 0}, {errFd, POLLIN, 0}}};
  std::string* targets[2] = {&result.output, &result.errors};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        targets[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

ProcessResult RunBrevick(const std::vector<std::string>& args, const ProcessOptions& options) {
  int outPipe[2], errPipe[2];
  const bool piped = options.errorsOnTerminal
                         ? openpty(&errPipe[0], &errPipe[1], nullptr, nullptr, nullptr) == 0
                         : pipe(errPipe) == 0;
  if (pipe(outPipe) != 0 || !piped) throw std::runtime_error("pipe failed");
  // BREVICK_TEST_WRAPPER runs the executable under a tool, for instance
  // "valgrind --error-exitcode=99 -q": words split on blanks, put in front.
  std::vector<std::string> argv0;
  if (const char* wrapper = std::getenv("BREVICK_TEST_WRAPPER"); wrapper != nullptr) {
    std::istringstream words(wrapper);
    for (std::string word; words >> word;) argv0.push_back(word);
  }
  argv0.push_back(BREVICK_EXE);
  argv0.insert(argv0.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv0) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    if (options.standardOutput.empty()) {
      dup2(outPipe[1], 1);
    } else if (options.standardOutput == "-") {
      close(1);
    } else {
      dup2(open(options.standardOutput.c_str(), O_WRONLY), 1);
    }
    dup2(errPipe[1], 2);
    close(outPipe[0]), close(errPipe[0]), close(outPipe[1]), close(errPipe[1]);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
      _exit(127);
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    if (options.addressSpaceLimitBytes > 0) {
      const rlimit limit{static_cast<rlim_t>(options.addressSpaceLimitBytes),
                         static_cast<rlim_t>(options.addressSpaceLimitBytes)};
      setrlimit(RLIMIT_AS, &limit);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  ProcessResult result;
  Drain(outPipe[0], errPipe[0], result);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Banner() {
  return "TCHAR > 1\n"
         "\n"
         "Manifest compilation utility\n"
         "Copyright (c) 2026 The Brevick developers\n"
         "===========================================\n";
}

std::string UsageText() {
  return "usage: Brevick [-L -LS -P -S -R] infile outfile cert_subject_name\n"
         "-L   List the available certificates in all system stores\n"
         "-LS  List the available certificate system stores\n"
         "-P   Show progress\n"
         "-D   Show debug information\n"
         "-S storename       Use a specific store (For listing or signing. Default is 'My'\n"
         "-R rootdirectory   Specify the root directory for files usable with %SourceRoot%\n";
}

std::string WithoutSigningNotices(std::string errors) {
  for (const std::string_view notice : {"brevick: warning: ", "brevick: signed by "}) {
    for (std::size_t at; (at = errors.find(notice)) != std::string::npos;) {
      const std::size_t end = errors.find('\n', at);
      errors.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
    }
  }
  return errors;
}

}  // namespace brevick::testing
