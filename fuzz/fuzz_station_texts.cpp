// A station's option texts and the texts its files carry: the parsers take
// anything and either refuse it or give what they promise; a record line and a
// JUnit report stay valid UTF-8 without raw control characters whatever a reason
// holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "station/board_record.h"
#include "station/control_sequence.h"
#include "station/identity.h"
#include "station/junit_report.h"
#include "station/slot_place.h"
#include "station/text_forms.h"

namespace {

void Check(bool holds) {
    if (!holds) std::abort();
}

// No raw byte below 0x20 and nothing ValidUtf8 would change.
void CheckClean(const std::string& text, bool lineFeeds) {
    for (char c : text) Check(static_cast<unsigned char>(c) >= 0x20 || (lineFeeds && c == '\n'));
    Check(sealbench::ValidUtf8(text) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    auto sequence = sealbench::ParseControlSequence(text);
    if (sequence.Ok()) {
        Check(!sequence.value.empty() && sequence.value.size() <= sealbench::kMaxControlSteps);
        std::chrono::milliseconds waits{0};
        for (const auto& step : sequence.value) waits += step.wait;
        Check(waits <= sealbench::kMaxSequenceWait);
    } else {
        Check(sequence.value.empty());
    }
    auto identity = sealbench::ParseIdentitySpec(text);
    if (identity.Ok()) {
        Check(identity.value.length >= 1 && identity.value.length <= sealbench::kMaxIdentityBytes);
        Check(uint64_t{identity.value.address} + identity.value.length <= (uint64_t{1} << 32));
    }
    sealbench::ParseSlotPlace(text);

    sealbench::BoardRecord record;
    record.slot = text;
    record.reason = text;
    record.identity = text.substr(0, 8);
    CheckClean(sealbench::RecordLine(record), false);
    CheckClean(sealbench::JunitXml({}, {record}), true);
    return 0;
}
