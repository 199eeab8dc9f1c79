// hwc, csf, combine, sign and srec: the file tools that need no target.
#include "commands.h"

namespace sealbench::cli {

void AddFileCommands(CLI::App&, int&) {}

}  // namespace sealbench::cli
