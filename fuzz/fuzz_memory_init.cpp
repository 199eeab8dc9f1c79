// Feeds arbitrary text to the memory-init script reader: it must never crash,
// never read outside the text, and only accept writes that are in form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/hex_text.h"
#include "download/memory/memory_init.h"
#include "download/plan/download_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string normalized = sealbench::NormalizeLineEnds(text);
    sealbench::ParsedScript script = sealbench::ParseScript(normalized);
    if (script.malformedLine != 0 && !script.writes.empty()) {
        std::abort();  // a refused script must write nothing
    }
    if (script.writes.size() != script.lineNumbers.size()) {
        std::abort();
    }
    for (const sealbench::RegisterWrite& write : script.writes) {
        if (write.width != 8 && write.width != 16 && write.width != 32) {
            std::abort();
        }
    }
    for (const sealbench::ScriptPiece& piece : sealbench::SplitScript(normalized)) {
        if (piece.text.size() > sealbench::kScriptPieceLength) {
            std::abort();
        }
    }
    (void)sealbench::ReadHexField(text);
    return 0;
}
