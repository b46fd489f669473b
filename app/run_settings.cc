// app/run_settings.cc: the one instance of the run settings.
#include "app/run_settings.h"

namespace brevick {

RunSettings& Settings() {
  static RunSettings settings;
  return settings;
}

}  // namespace brevick
