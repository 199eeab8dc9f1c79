// The two links that BootwireClass works on, shared by the whole process: one
// serial, one USB. Each call of the facade holds the link it started on, so that
// choosing another port or device in the middle of a call closes nothing under it:
// the new link serves the next call.
#pragma once

#include <bootwire/bootwire.h>

#include <memory>

namespace bootwire {

// The link a call of the facade uses now; never null (an empty link fails its sends).
std::shared_ptr<Link> ProcessSerialLink();
std::shared_ptr<Link> ProcessUsbLink();
// Puts a new link in place of the current one and returns the one it replaced.
std::shared_ptr<Link> ReplaceProcessSerialLink(std::shared_ptr<Link> link);
std::shared_ptr<Link> ReplaceProcessUsbLink(std::shared_ptr<Link> link);
// Lets go of both (tests; a program lets the process end do it).
void CloseProcessLinks();

}  // namespace bootwire
