// tests/support/process.cc: the run's standard output and error go to files
// (or a terminal, read as it comes) and are read once it has ended, so that a
// chatty child never blocks on a pipe.
#include "tests/support/process.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

// In the child: its standard streams, directory, environment and limits.
void SetUpChild(const ProcessOptions& options, const std::string& out, const std::string& err,
                int terminal) {
  dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0);  // the originals close on exec
  if (options.standardOutput == "-") {
    close(1);
  } else if (options.standardOutput.empty()) {
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 1);
  } else {
    dup2(open(options.standardOutput.c_str(), O_WRONLY | O_CLOEXEC), 1);
  }
  dup2(terminal >= 0 ? terminal : open(err.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 2);
  if (terminal > 2) close(terminal);
  if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(127);
  for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
  const auto limit = static_cast<rlim_t>(options.addressSpaceLimitBytes);
  const rlimit bound{limit, limit};
  if (limit > 0) setrlimit(RLIMIT_AS, &bound);
}

}  // namespace

ProcessResult RunBrevick(const std::vector<std::string>& args, const ProcessOptions& options) {
  const TempDir io;
  const std::string out = (io.Path() / "out").string(), err = (io.Path() / "err").string();
  int master = -1, terminal = -1;
  if (options.errorsOnTerminal && openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0)
    throw std::runtime_error("openpty failed");
  // BREVICK_TEST_WRAPPER runs the executable under a tool, for instance
  // "valgrind --error-exitcode=99 -q"; the shell splits it into words.
  std::vector<std::string> words = {"/bin/sh", "-c", "exec $BREVICK_TEST_WRAPPER \"$0\" \"$@\"",
                                    BREVICK_EXE};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (master >= 0) close(master);
    SetUpChild(options, out, err, terminal);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ProcessResult result;
  if (master >= 0) {  // read until the child's end is closed, so it never waits for us
    close(terminal);
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
      result.errors.append(buffer, static_cast<std::size_t>(n));
    close(master);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  result.output = ReadFileBytes(out);
  if (master < 0) result.errors = ReadFileBytes(err);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

void Shell(const std::filesystem::path& dir, const std::string& command) {
  const std::filesystem::path log = dir / "commands.log";
  if (std::system((command + " >>'" + log.string() + "' 2>&1").c_str()) != 0)
    throw std::runtime_error(command + " failed:\n" + ReadFileBytes(log));
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
