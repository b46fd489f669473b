// manifest/source_path.cc
#include "manifest/source_path.h"

#include "app/run_settings.h"
#include "app/utf8.h"

namespace brevick {

std::wstring ResolveSourcePath(std::string_view path) {
  std::wstring resolved = ToWide(path);
  const std::size_t token = resolved.find(kSourceRootToken);
  if (token != std::wstring::npos) {
    resolved.replace(token, kSourceRootToken.size(), Settings().rootdirectory);
  }
  return resolved;
}

}  // namespace brevick
