// app/stage_results.h: what the pipeline's stages return. They only decide
// where the pipeline stops; the run's outcome is the error list alone.
#pragma once

namespace brevick {

inline constexpr int kStageGoOn = 0;
inline constexpr int kStageManifestRejected = 4;  // cannot be read, or does not validate
inline constexpr int kStageHashingFailed = 18;    // at least one module file was not hashed

}  // namespace brevick
