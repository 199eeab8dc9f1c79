// The Telnet decoder takes whatever the server sends. However the stream is cut,
// it must give the same data and commands; and data it escaped itself must come
// back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "telnet_codec.h"

using namespace bootwire::telnet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes whole;
    std::vector<Command> wholeCommands;
    Decoder a;
    a.Feed(data, size, whole, wholeCommands);

    Bytes pieces;
    std::vector<Command> pieceCommands;
    Decoder b;
    const size_t cut = size > 0 ? data[0] % (size + 1) : 0;
    b.Feed(data, cut, pieces, pieceCommands);
    b.Feed(data + cut, size - cut, pieces, pieceCommands);
    if (whole != pieces || wholeCommands.size() != pieceCommands.size()) {
        std::abort();
    }
    Options options;
    options.Opening();
    for (const Command& c : wholeCommands) {
        if (c.payload.size() > 512) {
            std::abort();
        }
        if (!c.subnegotiation && options.Answer(c.verb, c.option).size() > 3) {
            std::abort();
        }
        if (auto answer = AnswerOf(c)) {
            BaudOf(answer->value);
        }
    }

    Bytes escaped;
    AppendEscaped(data, size, escaped);
    Bytes back;
    std::vector<Command> none;
    Decoder c;
    c.Feed(escaped.data(), escaped.size(), back, none);
    if (back != Bytes(data, data + size) || !none.empty()) {
        std::abort();
    }
    return 0;
}
