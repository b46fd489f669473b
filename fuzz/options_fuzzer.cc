// Fuzzes the command line: NUL-separated arguments through option parsing and
// the settings echo, with every output flag on so each line is built.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "base/report.h"
#include "base/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> args = {L"brevick"};
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(brevick::ToWide(current));
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(brevick::ToWide(current));

  brevick::ConsoleCapture console;
  const brevick::CommandLine commandLine = brevick::ParseArguments(args);
  brevick::SetVerbosity({.showProgress = true, .showDebug = true});
  brevick::EchoSettings(commandLine, args);
  return 0;
}
