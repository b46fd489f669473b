// manifest/uuid_check.cc
//
// The debug texts say "of module" for the package's UUID too; scripts that
// read -D output match them, so they stay as they are.
#include "manifest/uuid_check.h"

#include <string>

#include "base/reporter.h"
#include "base/utf8.h"

namespace brevick {

bool CheckModuleUuid(std::string_view value, Reporter& reporter) {
  if (value.size() < 3) {
    reporter.Debug(L"UUID of module is < 3 characters");
    return false;
  }
  if (value.front() != '{') {
    reporter.Debug(L"UUID of module does not start with '{' character");
    return false;
  }
  if (value.back() != '}') {
    reporter.Debug(L"UUID of module does not end with '}' character");
    return false;
  }
  reporter.Debug(L"  UUID '" + ToWide(value) + L"' validated OK");
  return true;
}

}  // namespace brevick
