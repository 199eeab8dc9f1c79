#include <unistd.h>

#include "common/terminal.h"

namespace sealbench {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace sealbench
