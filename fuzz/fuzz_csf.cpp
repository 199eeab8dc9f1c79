// The CSF writer over arbitrary field texts: whatever the validation lets through
// must come out as exactly the lines the document has, every one ending CR LF, so
// that no field can add a line of its own to what the signing tool obeys.
// Input: fields separated by '\x1F'; the first five are type, UID, code, super
// root and CSF key; then "k" fields are key names and "b" fields are blocks (file,
// start, length and key separated by ',').
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "csf/csf_document.h"

namespace {

std::string_view Next(std::string_view& input, char separator) {
    size_t end = input.find(separator);
    std::string_view field = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    return field;
}

size_t Count(std::string_view text, char c) {
    size_t n = 0;
    for (char x : text) n += x == c;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    sealbench::CsfDocument d;
    d.type = Next(input, '\x1F');
    d.uid = Next(input, '\x1F');
    d.code = Next(input, '\x1F');
    d.superRootPath = Next(input, '\x1F');
    d.csfKeyPath = Next(input, '\x1F');
    while (!input.empty()) {
        std::string_view field = Next(input, '\x1F');
        if (field.empty()) {
            continue;
        }
        std::string_view rest = field.substr(1);
        if (field[0] == 'k') {
            d.keyNames.emplace_back(rest);
        } else {
            sealbench::CsfBlock block;
            block.fileName = Next(rest, ',');
            block.start = Next(rest, ',');
            block.length = Next(rest, ',');
            block.key = rest;
            d.blocks.push_back(block);
        }
    }
    for (size_t b = 0; b < d.blocks.size(); ++b) {
        (void)sealbench::CheckCsfBlock(d.blocks[b], b + 1);
    }
    if (sealbench::ValidateCsf(d)) {
        return 0;
    }
    const std::string text = sealbench::CsfText(d);
    // 21 lines up to CSF_KEY, a line per key, a blank, a line per block, the five
    // lines of the commands' heading, PUBLICKEY_SIG_VERIFY, a line per key.
    const size_t lines = 28 + 2 * d.keyNames.size() + d.blocks.size();
    if (Count(text, '\n') != lines || Count(text, '\r') != lines || text.size() < 2 ||
        text.substr(text.size() - 2) != "\r\n") {
        std::abort();
    }
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        if (at == 0 || text[at - 1] != '\r') {
            std::abort();
        }
    }
    return 0;
}
