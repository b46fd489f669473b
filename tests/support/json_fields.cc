// tests/support/json_fields.cc: the flattening is done by Python's json
// module, so that what the tests read back is what any JSON reader sees.
#include "tests/support/json_fields.h"

#include <cstdio>
#include <memory>

#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

// Prints "path NUL value NUL" per field: a NUL never occurs in the reports.
constexpr const char* kFlattener = R"PY(
import json, sys
def out(path, text):
    sys.stdout.write(path + "\0" + text + "\0")
def walk(path, value):
    if isinstance(value, (dict, list)):
        out(path + "#", str(len(value)))
        named = isinstance(value, dict)
        for key, item in value.items() if named else enumerate(value):
            walk((path + "." if path else "") + key if named else f"{path}[{key}]", item)
    else:
        out(path, value if isinstance(value, str) else json.dumps(value))
try:
    walk("", json.load(open(sys.argv[1], encoding="utf-8")))
except Exception as error:
    out("error", str(error))
)PY";

}  // namespace

std::map<std::string, std::string> JsonFields(const std::string& json) {
  const TempDir temp;
  const std::string command = "python3 '" + temp.WriteFile("flatten.py", kFlattener).string() +
                              "' '" + temp.WriteFile("input.json", json).string() + "'";
  std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return {{"error", "python3 did not start"}};
  std::string output;
  char buffer[4096];
  while (const std::size_t count = fread(buffer, 1, sizeof buffer, pipe.get()))
    output.append(buffer, count);
  std::map<std::string, std::string> fields;
  for (std::size_t at = 0, key = 0, value = 0;
       (key = output.find('\0', at)) != std::string::npos &&
       (value = output.find('\0', key + 1)) != std::string::npos;
       at = value + 1)
    fields[output.substr(at, key - at)] = output.substr(key + 1, value - key - 1);
  return fields;
}

}  // namespace brevick::testing
