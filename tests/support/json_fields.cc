// tests/support/json_fields.cc: the parsing is done by Python's json module,
// so that what the tests read back is what any JSON reader sees.
#include "tests/support/json_fields.h"

#include <cstdio>
#include <memory>

#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

// Prints "name NUL value NUL" per member: a NUL never occurs in the reports.
constexpr const char* kReader = R"PY(
import json, sys
try:
    for name, value in json.load(open(sys.argv[1], encoding="utf-8")).items():
        sys.stdout.write(name + "\0" + (value if isinstance(value, str) else json.dumps(value)) + "\0")
except Exception as error:
    sys.stdout.write("error\0" + str(error) + "\0")
)PY";

}  // namespace

std::map<std::string, std::string> JsonFields(const std::string& json) {
  const TempDir temp;
  const std::string command = "python3 '" + temp.WriteFile("read.py", kReader).string() + "' '" +
                              temp.WriteFile("input.json", json).string() + "'";
  std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return {{"error", "python3 did not start"}};
  std::string output;
  char buffer[4096];
  while (const std::size_t count = fread(buffer, 1, sizeof buffer, pipe.get()))
    output.append(buffer, count);
  std::map<std::string, std::string> fields;
  for (std::size_t at = 0, name = 0, value = 0;
       (name = output.find('\0', at)) != std::string::npos &&
       (value = output.find('\0', name + 1)) != std::string::npos;
       at = value + 1)
    fields[output.substr(at, name - at)] = output.substr(name + 1, value - name - 1);
  return fields;
}

}  // namespace brevick::testing
