// The platform's half of the signing run: starting sekurel_build from PATH with
// one argument per field and waiting for it (signing_posix.cpp, signing_win32.cpp).
// The checks before and after the run are the same everywhere (signing.cpp).
#pragma once

#include "imagebuild/signing.h"

namespace sealbench {

// How the process ended; Ok means it exited with status 0, nothing more.
SignResult RunSigningProcess(const SignRequest& request);

}  // namespace sealbench
