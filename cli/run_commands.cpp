// download, flash and mem-init.
#include "commands.h"

namespace sealbench::cli {

void AddRunCommands(CLI::App&, int&) {}

}  // namespace sealbench::cli
