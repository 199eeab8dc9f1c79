#include "download/win32/page_debug_run.h"

#include "download/stoppable_transport.h"

namespace sealbench::win32 {
namespace {

// A stop reaches a serial send within one piece's line time (about 0.2 s at 115200
// baud); USB sends are quick whole.
constexpr size_t kSerialStopPiece = 2048;

std::string ReasonOf(bootwire::Error error, const std::string& detail) {
    std::string reason = detail.empty() ? std::string(bootwire::ErrorName(error)) : detail;
    if (error == bootwire::Error::Busy) reason += " (another program holds it)";
    return reason;
}

}  // namespace

OpenResult CWindowBoard::OpenSerialPort(const std::string& port, ProcessorType processor) {
    serial_.Detach();
    serialName_.clear();
    bootwire::Error error = bootwire::Error::Ok;
    std::string detail;
    auto transport = bootwire::OpenSerial(port, PresetOf(processor).lineMode, &error, &detail);
    if (!transport || error != bootwire::Error::Ok) return {false, ReasonOf(error, detail)};
    // Sends and receives end at once when the window closes in mid-run.
    serial_.Attach(std::make_unique<StoppableTransport>(std::move(transport), stop_.get_token(), kSerialStopPiece));
    serialName_ = port;
    serialFor_ = processor;
    return {true, {}};
}

OpenResult CWindowBoard::OpenUsbDevice() {
    usb_.Detach();
    bootwire::Error error = bootwire::Error::Ok;
    std::string detail;
    auto transport = bootwire::OpenUsb(&error, &detail);
    if (!transport) {
        std::string reason = ReasonOf(error, detail);
        if (error == bootwire::Error::Permission || error == bootwire::Error::Busy)
            reason = "The USB boot device (2b4e:7a31) was found but cannot be opened: " + reason;
        return {false, reason};
    }
    usb_.Attach(std::make_unique<StoppableTransport>(std::move(transport), stop_.get_token(), 0));
    return {true, {}};
}

void CWindowBoard::ReleaseSerialPort() {
    if (serialName_.empty()) return;
    released_ = serialName_;
    serial_.Detach();
}

void CWindowBoard::RetakeSerialPort() {
    if (released_.empty()) return;
    const std::string port = std::move(released_);
    released_.clear();
    OpenSerialPort(port, serialFor_);
}

BoardLink CWindowBoard::Chosen(bool usb) {
    BoardLink board;
    board.usb = usb;
    if (usb) {
        board.link = &usb_;
        // After a FLASHING run the board comes back as a new USB device.
        board.reenumerate = [this] { OpenUsbDevice(); };
    } else if (serial_.IsOpen()) {
        board.link = &serial_;
    }
    return board;
}

bool ExecuteOn(Runner& runner, const RunSettings& settings, const BoardLink& board) {
    return runner.Execute(settings, board);
}

void ReadOn(Runner& runner, const RunSettings& settings, const BoardLink& board, const std::string& address) {
    runner.ReadMemory(settings, board, address);
}

void CheckSekurelOn(Runner& runner, const RunSettings& settings, const BoardLink& board) {
    runner.CheckSekurelStatus(settings, board);
}

void MemoryInitOn(Runner& runner, const RunSettings& settings, const BoardLink& board) {
    runner.MemoryInitAlone(settings, board);
}

}  // namespace sealbench::win32
