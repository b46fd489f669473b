// manifest/source_path.h: `%SourceRoot%` in a dependency's `signInfo` path.
#pragma once

#include <string>
#include <string_view>

namespace brevick {

inline constexpr std::wstring_view kSourceRootToken = L"%SourceRoot%";

// The UTF-8 `path` as wide text with its first `%SourceRoot%` (exact case)
// replaced by `rootDirectory` as typed.
// A second token stays; no separator is added, removed or normalised.
std::wstring ResolveSourcePath(std::string_view path, const std::wstring& rootDirectory);

}  // namespace brevick
