// verify/replace_file.h: whole-file replacement. The new bytes go to a fresh
// temporary file beside the target, are flushed to disk and renamed over it,
// so the target holds either its old content or the whole new one.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace brevick {

// Returns 0 or the errno of the step that failed; no temporary file is left
// behind either way. A symbolic link at `path` is replaced, not followed.
int ReplaceFileWhole(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace brevick
