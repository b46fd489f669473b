// tests/support/json_fields.h: JSON read back by a real parser (Python's
// json module, in a child process), flattened for field-by-field checks.
#pragma once

#include <map>
#include <string>

namespace brevick::testing {

// Every leaf of the document as "a.b[2].c" -> its JSON text ("true", "null",
// "3", or a string's decoded value without quotes); arrays and objects also
// get an entry "path#" holding their element count. An input that does not
// parse yields the single key "error".
std::map<std::string, std::string> JsonFields(const std::string& json);

}  // namespace brevick::testing
