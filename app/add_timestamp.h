// app/add_timestamp.h: the --add-timestamp mode, for releases signed before
// timestamps were asked for: a token from the TSAs goes into the signed
// manifest's signer, and nothing else in the file changes.
#pragma once

#include <string>
#include <vector>

namespace brevick {

// brevick --add-timestamp SIGNED --timestamp URL... [--timestamp-digest D]
// [--timestamp-retries N] [--timestamp-wait S] [--timestamp-timeout S].
// Replaces SIGNED whole, and only once the new message verifies. Returns 0
// when the token was added; 1 when every try failed, SIGNED is no valid
// signed manifest or already has a timestamp, or it cannot be replaced; 64
// for a command line that does not fit.
int RunAddTimestampMode(const std::vector<std::wstring>& args);

}  // namespace brevick
