#include "station/junit_report.h"

#include <cstdio>
#include <span>

#include "common/atomic_file.h"
#include "station/text_forms.h"

namespace sealbench {

namespace {

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds > 0 ? seconds : 0.0);
    return text;
}

std::string Attribute(const char* name, std::string_view value) {
    return std::string(" ") + name + "=\"" + XmlText(value) + "\"";
}

}  // namespace

std::string JunitXml(const JunitRun& run, const std::vector<BoardRecord>& boards) {
    size_t failures = 0;
    for (const BoardRecord& board : boards) failures += board.ok ? 0 : 1;
    const std::string counts = Attribute("tests", std::to_string(boards.size())) +
                               Attribute("failures", std::to_string(failures)) + Attribute("errors", "0");
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites" + Attribute("name", run.name) + counts + Attribute("time", Seconds(run.seconds)) + ">\n";
    xml += "  <testsuite" + Attribute("name", run.name) + counts + Attribute("skipped", "0") +
           Attribute("time", Seconds(run.seconds)) + Attribute("timestamp", IsoUtc(run.started)) + ">\n";
    xml += "    <properties>\n      <property" + Attribute("name", "tool_version") +
           Attribute("value", run.toolVersion) + "/>\n    </properties>\n";
    for (const BoardRecord& board : boards) {
        xml += "    <testcase" + Attribute("classname", "slot " + board.slot) + Attribute("name", board.identity) +
               Attribute("time", Seconds(board.seconds)) + Attribute("timestamp", IsoUtc(board.started));
        xml += ">\n      <properties>\n        <property" + Attribute("name", "image_sha256") +
               Attribute("value", board.imageSha256) + "/>\n      </properties>\n";
        if (!board.ok) {
            xml += "      <failure" + Attribute("message", board.reason) + Attribute("type", "FAILED") + ">" +
                   XmlText(board.reason) + "</failure>\n";
        }
        xml += "    </testcase>\n";
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

Outcome WriteJunitReport(const std::string& path, const JunitRun& run, const std::vector<BoardRecord>& boards) {
    const std::string xml = JunitXml(run, boards);
    Outcome written =
        WriteFileAtomically(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(xml.data()), xml.size()));
    if (!written.Ok()) {
        written.message = "cannot write the JUnit report " + path + ": " + written.message;
    }
    return written;
}

}  // namespace sealbench
