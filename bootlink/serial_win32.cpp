// Serial transport on Windows: an exclusive overlapped COM handle with the boot
// ROM's line settings. Every transfer waits on its own event with a bound taken
// from the line's speed, and is cancelled when the bound passes, so a silent or
// unplugged board ends a send or receive like the POSIX transport does: reads
// within 3 s plus 5 ms a byte, writes within twice their line time plus a second,
// and neither survives 3 s in which nothing moved.
#include "serial_win32.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "control_lines.h"
#include "port_openers.h"

namespace bootwire {
namespace win32 {

std::string ComDeviceName(const std::string& port, std::string* display) {
    std::string digits = port;
    if (digits.size() > 3 && std::toupper(static_cast<unsigned char>(digits[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(digits[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(digits[2])) == 'M') {
        digits = digits.substr(3);
    }
    bool number = !digits.empty() && digits.size() <= 3 &&
                  digits.find_first_not_of("0123456789") == std::string::npos && std::stoi(digits) >= 1;
    if (!number) {
        *display = port;
        return port;
    }
    *display = "COM" + std::to_string(std::stoi(digits));
    return "\\\\.\\" + *display;
}

void ApplyBootLine(DCB* dcb, int lineMode) {
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = kLineBaud;
    dcb->ByteSize = 8;
    switch (lineMode) {
        case static_cast<int>(LineMode::OddParityTwoStop):
            dcb->Parity = ODDPARITY;
            dcb->StopBits = TWOSTOPBITS;
            break;
        case static_cast<int>(LineMode::NoParityOneStop):
            dcb->Parity = NOPARITY;
            dcb->StopBits = ONESTOPBIT;
            break;
        default:
            break;
    }
    dcb->fBinary = TRUE;
    dcb->fParity = FALSE;
    dcb->fOutxCtsFlow = FALSE;
    dcb->fOutxDsrFlow = FALSE;
    dcb->fDtrControl = DTR_CONTROL_ENABLE;
    dcb->fDsrSensitivity = FALSE;
    dcb->fTXContinueOnXoff = TRUE;
    dcb->fOutX = FALSE;
    dcb->fInX = FALSE;
    dcb->fErrorChar = FALSE;
    dcb->fNull = FALSE;
    dcb->fRtsControl = RTS_CONTROL_ENABLE;
    dcb->fAbortOnError = TRUE;
}

COMMTIMEOUTS BootLineTimeouts() {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = kReceivePerByteMs;
    t.ReadTotalTimeoutConstant = kReceiveConstantMs;
    t.WriteTotalTimeoutMultiplier = 1;
    t.WriteTotalTimeoutConstant = kIdleMs;
    return t;
}

}  // namespace win32

namespace {

using sealbench::win32::SystemMessage;
using sealbench::win32::UniqueHandle;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Older SDK headers lack it.
constexpr DWORD kErrorNoSuchDevice = 433;

constexpr std::chrono::milliseconds kIdle{win32::kIdleMs};

// Sends go out in pieces so that progress is told as the line takes them and a
// line that stops is noticed within the idle limit.
constexpr size_t kWritePiece = 4096;

// Failures of a transfer that mean the port itself went away (a USB adapter
// unplugged, the far end of a virtual port closed).
Error ErrorOfTransfer(DWORD code) {
    switch (code) {
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case kErrorNoSuchDevice:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_NOT_READY:
        case ERROR_BROKEN_PIPE:
        case ERROR_ACCESS_DENIED:
        case ERROR_INVALID_HANDLE:
            return Error::Gone;
        case ERROR_SEM_TIMEOUT:
            return Error::Timeout;
        default:
            return Error::Io;
    }
}

// Rounded up: a wait that ends before `t` would cut the bound short.
DWORD MillisecondsUntil(Clock::time_point t) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 0, 60'000));
}

class SerialWin32 final : public Transport {
public:
    SerialWin32(UniqueHandle port, std::string name, int bitsPerByte)
        : port_(std::move(port)), name_(std::move(name)), bitsPerByte_(bitsPerByte) {
        event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }

    Error Send(const uint8_t* data, size_t n, const SendObserver* sent) override {
        auto lineTime = std::chrono::microseconds(static_cast<long long>(n) * bitsPerByte_ * 1'000'000 / baud_);
        auto deadline = Clock::now() + 2 * lineTime + 1s;
        auto lastProgress = Clock::now();
        DWORD errors = 0;
        ::ClearCommError(port_.Get(), &errors, nullptr);
        size_t done = 0;
        while (done < n) {
            DWORD wait = std::min(MillisecondsUntil(deadline), MillisecondsUntil(lastProgress + kIdle));
            if (wait == 0) {
                return Fail(Error::Timeout, name_ + ": the target stopped taking data (" + std::to_string(done) +
                                                " of " + std::to_string(n) + " bytes written)");
            }
            DWORD moved = 0;
            DWORD piece = static_cast<DWORD>(std::min(kWritePiece, n - done));
            if (Error e = Transfer(true, const_cast<uint8_t*>(data + done), piece, wait, &moved); e != Error::Ok) {
                return e;
            }
            if (moved > 0) {
                done += moved;
                lastProgress = Clock::now();
                if (sent) {
                    (*sent)(moved);
                }
            }
        }
        return Error::Ok;
    }

    Error Receive(uint8_t* data, size_t n, size_t* received) override {
        auto deadline = Clock::now() + std::chrono::milliseconds(win32::kReceiveConstantMs +
                                                                 win32::kReceivePerByteMs * static_cast<long long>(n));
        auto lastByte = Clock::now();
        DWORD errors = 0;
        ::ClearCommError(port_.Get(), &errors, nullptr);
        size_t done = 0;
        Error result = Error::Ok;
        while (done < n) {
            DWORD wait = std::min(MillisecondsUntil(deadline), MillisecondsUntil(lastByte + kIdle));
            if (wait == 0) {
                result = Fail(Error::Timeout, name_ + ": the target did not answer in time (" + std::to_string(done) +
                                                  " of " + std::to_string(n) + " bytes)");
                break;
            }
            DWORD moved = 0;
            DWORD piece = static_cast<DWORD>(std::min<size_t>(n - done, MAXDWORD));
            if (Error e = Transfer(false, data + done, piece, wait, &moved); e != Error::Ok) {
                result = e;
                break;
            }
            if (moved > 0) {
                done += moved;
                lastByte = Clock::now();
            }
        }
        *received = done;
        return result;
    }

    std::string Describe() const override { return name_; }
    size_t StopSlice() const override { return kSerialStopSlice; }

    Error SetLineSpeed(int baud) override {
        if (baud <= 0) {
            return Fail(Error::Settings, name_ + ": " + std::to_string(baud) + " is not a line speed");
        }
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(port_.Get(), &dcb)) {
            return Fail(Error::Settings, name_ + ": cannot read the line settings: " + SystemMessage(::GetLastError()));
        }
        dcb.BaudRate = static_cast<DWORD>(baud);
        if (!::SetCommState(port_.Get(), &dcb)) {
            return Fail(Error::Settings, name_ + ": the port refused " + std::to_string(baud) +
                                             " baud: " + SystemMessage(::GetLastError()));
        }
        baud_ = baud;
        return Error::Ok;
    }

    Error SetControlLine(ControlLine line, bool on) override {
        const DWORD function = line == ControlLine::Dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
        if (::EscapeCommFunction(port_.Get(), function)) {
            return Error::Ok;
        }
        const DWORD code = ::GetLastError();
        const std::string what = name_ + ": cannot set " + ControlLineText(line, on) + ": " + SystemMessage(code);
        switch (ErrorOfTransfer(code)) {
            case Error::Gone:
                return Fail(Error::Gone, what + " (the port went away)");
            default:
                // Virtual ports (com0com, a modem emulator) may have no lines to drive.
                return Fail(
                    code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED ? Error::Unsupported : Error::Io,
                    what);
        }
    }

private:
    // One overlapped read or write of at most `n` bytes, waited for at most `waitMs`;
    // a transfer still pending then is cancelled and counts what it moved.
    Error Transfer(bool write, uint8_t* buffer, DWORD n, DWORD waitMs, DWORD* moved) {
        *moved = 0;
        if (!event_.Valid()) {
            return Fail(Error::Io, name_ + ": cannot create an event: " + SystemMessage(::GetLastError()));
        }
        OVERLAPPED ov{};
        ov.hEvent = event_.Get();
        ::ResetEvent(ov.hEvent);
        BOOL started = write ? ::WriteFile(port_.Get(), buffer, n, nullptr, &ov)
                             : ::ReadFile(port_.Get(), buffer, n, nullptr, &ov);
        DWORD code = started ? ERROR_SUCCESS : ::GetLastError();
        if (!started && code != ERROR_IO_PENDING) {
            return TransferFailed(write, code);
        }
        if (!started && ::WaitForSingleObject(ov.hEvent, waitMs) != WAIT_OBJECT_0) {
            ::CancelIoEx(port_.Get(), &ov);
        }
        // Waits for the end of the transfer, which a cancel makes prompt.
        if (!::GetOverlappedResult(port_.Get(), &ov, moved, TRUE)) {
            code = ::GetLastError();
            // The driver's own time-out ended the transfer with what it moved (Wine says
            // so with an error); the caller's bounds decide whether that is a failure.
            if (code != ERROR_OPERATION_ABORTED && code != ERROR_TIMEOUT && code != ERROR_SEM_TIMEOUT) {
                return TransferFailed(write, code);
            }
        }
        return Error::Ok;
    }

    Error TransferFailed(bool write, DWORD code) {
        DWORD errors = 0;
        ::ClearCommError(port_.Get(), &errors, nullptr);  // a line error holds every later transfer
        Error error = ErrorOfTransfer(code);
        std::string what = write ? "write failed: " : "read failed: ";
        if (error == Error::Gone) {
            what = "the port went away (" + what;
            return Fail(error, name_ + ": " + what + SystemMessage(code) + ")");
        }
        return Fail(error, name_ + ": " + what + SystemMessage(code));
    }

    UniqueHandle port_;
    UniqueHandle event_;
    std::string name_;
    int bitsPerByte_;
    int baud_ = static_cast<int>(win32::kLineBaud);
};

Error ErrorOfOpen(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return Error::NotFound;
        // Windows says "access denied" for a port that another program holds.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return Error::Busy;
        default:
            return Error::Io;
    }
}

}  // namespace

std::unique_ptr<Transport> OpenLocalSerial(const std::string& port, int lineMode, Error* error, std::string* detail) {
    *error = Error::Ok;
    detail->clear();
    std::string name;
    const std::string device = win32::ComDeviceName(port, &name);
    UniqueHandle handle(::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr));
    if (!handle.Valid()) {
        DWORD code = ::GetLastError();
        *error = ErrorOfOpen(code);
        *detail = "cannot open " + name + ": " + SystemMessage(code);
        if (*error == Error::Busy) {
            *detail += "; is another program using the port?";
        }
        return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetFileType(handle.Get()) != FILE_TYPE_CHAR || !::GetCommState(handle.Get(), &dcb)) {
        *error = Error::NotFound;
        *detail = name + " is not a serial port";
        return nullptr;
    }
    win32::ApplyBootLine(&dcb, lineMode);
    bool settingsTaken = ::SetCommState(handle.Get(), &dcb);
    DWORD settingsCode = settingsTaken ? ERROR_SUCCESS : ::GetLastError();
    COMMTIMEOUTS timeouts = win32::BootLineTimeouts();
    ::SetCommTimeouts(handle.Get(), &timeouts);  // the transport bounds every wait itself as well
    ::PurgeComm(handle.Get(), PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);

    DCB now{};
    now.DCBlength = sizeof now;
    if (!settingsTaken || !::GetCommState(handle.Get(), &now)) {
        now = dcb;
    }
    int bitsPerByte = 1 + 8 + (now.Parity != NOPARITY ? 1 : 0) + (now.StopBits == ONESTOPBIT ? 1 : 2);
    auto transport = std::make_unique<SerialWin32>(std::move(handle), name, bitsPerByte);
    if (!settingsTaken) {
        // The port stays open, as the boot ROM tools always left it, but the caller hears of it.
        *error = Error::Settings;
        *detail = name + ": the port refused the line settings (115200 baud, 8 data bits, parity and stop bits of " +
                  "line mode " + std::to_string(lineMode) + "): " + SystemMessage(settingsCode);
    }
    return transport;
}

}  // namespace bootwire
