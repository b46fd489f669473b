// manifest/uuid_check.h: the shape test of package and module UUIDs.
#pragma once

#include <string_view>

namespace brevick {

class Reporter;

// True when `value` (an `id` attribute's UTF-8 bytes, empty when absent) is at
// least 3 bytes long, starts with "{" and ends with "}"; nothing between the
// braces is examined. Reports exactly one debug line saying why.
bool CheckModuleUuid(std::string_view value, Reporter& reporter);

}  // namespace brevick
