// tests/support/json_fields.cc
#include "tests/support/json_fields.h"

#include <cstdio>
#include <memory>

#include "tests/support/temp_dir.h"

namespace brevick::testing {
namespace {

// Prints one "path<TAB>value" line per leaf; strings are printed decoded,
// with newlines and tabs escaped so that one line stays one field.
constexpr const char* kFlattener = R"PY(
import json, sys
def out(path, text):
    sys.stdout.write(path + "\t" + text.replace("\\", "\\\\").replace("\n", "\\n").replace("\t", "\\t") + "\n")
def walk(path, value):
    if isinstance(value, dict):
        out(path + "#", str(len(value)))
        for key, item in value.items():
            walk(path + "." + key if path else key, item)
    elif isinstance(value, list):
        out(path + "#", str(len(value)))
        for index, item in enumerate(value):
            walk(path + "[" + str(index) + "]", item)
    elif isinstance(value, str):
        out(path, value)
    else:
        out(path, json.dumps(value))
try:
    document = json.load(open(sys.argv[1], encoding="utf-8"))
except Exception as error:
    out("error", str(error))
    sys.exit(0)
walk("", document)
)PY";

// Undoes the flattener's escapes of backslash, line feed and tab.
std::string Unescape(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      plain += text[i];
      continue;
    }
    const char next = text[++i];
    plain += next == 'n' ? '\n' : next == 't' ? '\t' : next;
  }
  return plain;
}

}  // namespace

std::map<std::string, std::string> JsonFields(const std::string& json) {
  const TempDir temp;
  const std::string script = temp.WriteFile("flatten.py", kFlattener).string();
  const std::string input = temp.WriteFile("input.json", json).string();
  const std::string command = "python3 '" + script + "' '" + input + "'";
  std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), pclose);
  std::map<std::string, std::string> fields;
  if (!pipe) return {{"error", "python3 did not start"}};
  std::string output;
  char buffer[4096];
  while (const std::size_t count = fread(buffer, 1, sizeof buffer, pipe.get()))
    output.append(buffer, count);
  std::size_t start = 0;
  while (start < output.size()) {
    const std::size_t end = output.find('\n', start);
    const std::string line = output.substr(start, end - start);
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) fields[line.substr(0, tab)] = Unescape(line.substr(tab + 1));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return fields;
}

}  // namespace brevick::testing
