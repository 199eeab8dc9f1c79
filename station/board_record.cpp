#include "station/board_record.h"

#include <cmath>
#include <cstdio>

#include "station/text_forms.h"

namespace sealbench {

namespace {

// Milliseconds are plenty for a line's figures; JSON has no NaN or infinity.
std::string Seconds(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

}  // namespace

std::string RecordLine(const BoardRecord& record) {
    std::string line = "{";
    line += "\"slot\":" + JsonString(record.slot);
    line += ",\"identity\":" + JsonString(record.identity);
    line += ",\"image_sha256\":" + JsonString(record.imageSha256);
    line += ",\"bytes\":" + std::to_string(record.bytes);
    line += ",\"result\":" + JsonString(record.ok ? "OK" : "FAILED");
    line += ",\"reason\":" + JsonString(record.ok ? std::string() : record.reason);
    line += ",\"started\":" + JsonString(IsoUtc(record.started));
    line += ",\"seconds\":" + Seconds(record.seconds);
    line += ",\"stages\":{";
    for (size_t i = 0; i < record.stages.size(); ++i) {
        line += (i ? "," : "") + JsonString(record.stages[i].name) + ":" + Seconds(record.stages[i].seconds);
    }
    line += "},\"tool_version\":" + JsonString(record.toolVersion);
    return line + "}";
}

}  // namespace sealbench
