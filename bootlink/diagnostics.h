// The library's one way to say something that is not a result: a line to the
// caller's diagnostic handler (bootwire.h), standard output by default.
#pragma once

#include <string_view>

namespace bootwire {

void Diagnose(std::string_view line);

}  // namespace bootwire
