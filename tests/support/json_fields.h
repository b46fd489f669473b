// tests/support/json_fields.h: a JSON object read back by a real parser
// (Python's json module, in a child process), member by member.
#pragma once

#include <map>
#include <string>

namespace brevick::testing {

// Each top-level member of the object as name -> its JSON text ("true",
// "3", "[1, 2]"), or a string's decoded value without quotes. An input that
// does not parse yields the single key "error".
std::map<std::string, std::string> JsonFields(const std::string& json);

}  // namespace brevick::testing
