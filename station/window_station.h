// The station a window's "Boards" page starts, and the texts its slots show: the
// Qt tiles and the Win32 rows say the same things.
#pragma once

#include <string>
#include <vector>

#include "common/outcome.h"
#include "download/board/open_board.h"
#include "station/station.h"

namespace sealbench {

// The Download page's run, the ticked places as slots and the identity field's text
// (blank: none); the message the page shows instead when they make no station.
Result<StationSettings> WindowStation(const RunSettings& run, const std::vector<BoardAddress>& ticked,
                                      const std::string& identityText);

// "OK (3 of 4 passed)" or "FAILED (3 of 4 passed)"; empty before a slot's first board ends.
std::string SlotResultText(const SlotStatus& slot);

// What "Why?" shows of a slot whose last board failed: the reason, then its log.
std::string SlotWhyText(const SlotStatus& slot, const std::vector<std::string>& log);

}  // namespace sealbench
