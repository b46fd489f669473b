// tests/support/long_tests.h: the size of the slow tests. By default they
// run a short form, so the everyday test run stays quick; the test command's
// fuzz stage sets BREVICK_LONG_TESTS=1 and runs their long form once.
#pragma once

#include <cstdlib>
#include <string_view>

namespace brevick::testing {

// `shortCount` by default, `longCount` for the long run.
inline int ShortOrLong(int shortCount, int longCount) {
  const char* value = std::getenv("BREVICK_LONG_TESTS");
  return value != nullptr && std::string_view(value) == "1" ? longCount : shortCount;
}

}  // namespace brevick::testing
