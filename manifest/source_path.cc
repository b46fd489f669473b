// manifest/source_path.cc
#include "manifest/source_path.h"

#include "base/utf8.h"

namespace brevick {

std::wstring ResolveSourcePath(std::string_view path, const std::wstring& rootDirectory) {
  std::wstring resolved = ToWide(path);
  const std::size_t token = resolved.find(kSourceRootToken);
  if (token != std::wstring::npos) {
    resolved.replace(token, kSourceRootToken.size(), rootDirectory);
  }
  return resolved;
}

}  // namespace brevick
