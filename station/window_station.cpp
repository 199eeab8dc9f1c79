#include "station/window_station.h"

#include "station/identity.h"
#include "station/slot_place.h"

namespace sealbench {

Result<StationSettings> WindowStation(const RunSettings& run, const std::vector<BoardAddress>& ticked,
                                      const std::string& identityText) {
    Result<StationSettings> result;
    auto refuse = [&result](std::string message) {
        result.outcome = Outcome::Failure(FailureKind::Input, std::move(message));
        return std::move(result);
    };
    if (run.operation != OperationType::Flashing)
        return refuse("Tick FLASHING on the Download page first: a station flashes every board.");
    if (ticked.empty()) return refuse("Tick the places that are the station's slots first.");
    std::vector<std::string> places;
    for (const BoardAddress& board : ticked) places.push_back(board.port);
    Result<std::vector<SlotPlace>> parsed = ParseSlotPlaces(places);
    if (!parsed.Ok()) return refuse(parsed.outcome.message);
    const size_t first = identityText.find_first_not_of(" \t");
    if (first != std::string::npos) {
        const std::string text = identityText.substr(first, identityText.find_last_not_of(" \t") - first + 1);
        Result<IdentitySpec> identity = ParseIdentitySpec(text);
        if (!identity.Ok()) return refuse(identity.outcome.message);
        result.value.identity = identity.value;
    }
    result.value.places = std::move(parsed.value);
    result.value.run = run;
    return result;
}

std::string SlotResultText(const SlotStatus& slot) {
    if (!slot.hasLast) return {};
    return std::string(slot.lastOk ? "OK" : "FAILED") + " (" + std::to_string(slot.passed) + " of " +
           std::to_string(slot.boards) + " passed)";
}

std::string SlotWhyText(const SlotStatus& slot, const std::vector<std::string>& log) {
    std::string text = "FAILED - " + slot.lastReason + "\n";
    for (const std::string& line : log) text += "\n" + line;
    return text;
}

}  // namespace sealbench
