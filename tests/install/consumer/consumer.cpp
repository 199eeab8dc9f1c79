// A program built against an installed Bootwire: asks a board on a serial port for
// its secure-boot status word and prints it in hexadecimal.
#include <bootwire/bootwire.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    bootwire::Error error = bootwire::Error::Ok;
    std::string detail;
    auto transport =
        bootwire::OpenSerial(argv[1], static_cast<int>(bootwire::LineMode::NoParityOneStop), &error, &detail);
    if (!transport) {
        std::fprintf(stderr, "cannot open %s: %s %s\n", argv[1], bootwire::ErrorName(error), detail.c_str());
        return 1;
    }
    bootwire::Link link(std::move(transport));
    uint32_t word = 0;
    if (link.GetStatus(&word) != bootwire::Error::Ok) {
        std::fprintf(stderr, "get-status failed: %s\n", link.ErrorDetail().c_str());
        return 1;
    }
    std::printf("status 0x%x\n", static_cast<unsigned>(word));
    return 0;
}
