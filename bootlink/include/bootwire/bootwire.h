// Bootwire: the Vireo boot-ROM command protocol over a serial port or USB.
//
// Two layers live here. `bootwire::Link` is the protocol written once against a
// `bootwire::Transport` (anything that can send and receive bytes); a program may
// hold as many links as it has boards. `BootwireClass` is the classic facade with
// integer results, working on the two process-wide links (one serial, one USB)
// that every instance shares.
#pragma once

#include <bootwire/bootwire_export.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bootwire {

// What went wrong, by meaning. The detail text of the link says more.
enum class Error {
    Ok = 0,
    NotOpen,         // no port or device has been opened on this link
    NotFound,        // the port or device does not exist
    Permission,      // the port or device exists but may not be opened by this user
    Busy,            // the port is held by another program
    Settings,        // the port refused the line settings
    Io,              // the operating system reported a failure while moving bytes
    Timeout,         // the target did not take or deliver the bytes in time
    NoAnswer,        // fewer bytes of an answer arrived than were expected
    UnexpectedWord,  // the target answered with a word the protocol does not expect
    Driver,          // the USB driver layer refused a request
    Gone,            // the port or device went away while in use (unplugged, reset, connection closed)
    Unsupported,     // this kind of link cannot do what was asked (a line speed on a raw TCP port...)
};

BOOTWIRE_EXPORT const char* ErrorName(Error error);

// Response words and commands of the boot ROM.
inline constexpr uint32_t kWordAck = 0x56787856;
inline constexpr uint32_t kWordRegisterDone = 0x128A8A12;
inline constexpr uint32_t kWordComplete = 0x88888888;

enum class FileType : uint8_t {
    Image = 0x00,
    Application = 0xAA,
    Csf = 0xCC,
    Hwc = 0xEE,
};

inline constexpr size_t kFrameSize = 16;
inline constexpr size_t kMaxSendSize = 0x10000;      // one payload send
inline constexpr size_t kImagePieceSize = 0x1F0000;  // one write-file header of an image
inline constexpr size_t kApplicationHeadSize = 1024;

// Called with the number of payload bytes that just left the host.
using SendObserver = std::function<void(size_t bytes)>;

// The modem-control lines a host drives on a serial port; jigs wire them to a
// board's reset and boot-mode pins.
enum class ControlLine { Dtr, Rts };

// A byte pipe to one target. Both calls are bounded in time; a target that stops
// reading or answering makes them fail instead of hanging.
class BOOTWIRE_EXPORT Transport {
public:
    virtual ~Transport();
    // Sends all n bytes or fails. When `sent` is given it is told about bytes as they go.
    virtual Error Send(const uint8_t* data, size_t n, const SendObserver* sent) = 0;
    // Receives n bytes; `*received` is how many arrived when the call ended.
    virtual Error Receive(uint8_t* data, size_t n, size_t* received) = 0;
    // A short description for messages ("/dev/pts/4", "USB 2b4e:7a31").
    virtual std::string Describe() const = 0;
    // See Link::SetReceiveTimeoutLimit.
    virtual void SetReceiveTimeoutLimit(int milliseconds) { (void)milliseconds; }
    // Changes the line's speed in bits per second, keeping the other line settings.
    // Links without a line speed (USB) answer Error::Unsupported.
    virtual Error SetLineSpeed(int baud);
    // Raises (on) or drops a modem-control line. Links that have none (USB, raw
    // TCP, a pseudo-terminal) answer Error::Unsupported and say why.
    virtual Error SetControlLine(ControlLine line, bool on);
    // The detail of the last failure, as the operating system or driver gave it.
    const std::string& LastDetail() const { return lastDetail_; }

protected:
    Error Fail(Error error, std::string detail);
    std::string lastDetail_;
};

// Serial line modes of the boot ROM.
enum class LineMode : int {
    OddParityTwoStop = 0,  // 8O2
    NoParityOneStop = 1,   // 8N1
};

// Opens a serial port: a device path, a decimal COM number mapped to the
// platform's name for it, or a port on another host: "rfc2217://HOST:PORT"
// (Telnet COM-port control; the line settings are sent to the server and
// confirmed) or "socket://HOST:PORT" (raw TCP; the server keeps its own line
// settings, and *detail says so although the result is Error::Ok). Any other
// mode keeps the port's parity and stop bits.
BOOTWIRE_EXPORT std::unique_ptr<Transport> OpenSerial(const std::string& port, int lineMode, Error* error,
                                                      std::string* detail);

// Finds and opens the USB boot device (or the virtual board's USB socket when the
// environment variable BOOTWIRE_USB_SIM names one). Diagnostics go to stdout.
BOOTWIRE_EXPORT std::unique_ptr<Transport> OpenUsb(Error* error, std::string* detail);

// Opens the USB boot device at `location`, as ListPorts() names it: "BUS-PORT.PORT"
// for a device on a USB bus (the bus number, then the hub ports from the root), or
// "sim:NAME" for a virtual board whose socket BOOTWIRE_USB_SIM names or holds. Prints
// nothing; Error::NotFound when no boot device sits there.
BOOTWIRE_EXPORT std::unique_ptr<Transport> OpenUsbAt(const std::string& location, Error* error, std::string* detail);

// A port or USB boot device a board may be reached on. Texts are empty where the
// system does not tell them.
struct PortInfo {
    enum class Kind { Serial, UsbBoot };
    Kind kind = Kind::Serial;
    // What OpenSerial takes (a serial port) or OpenUsbAt takes (a USB boot device).
    std::string name;
    // A serial port's name that stays with the adapter (its /dev/serial/by-id entry).
    std::string stableName;
    // What the hardware calls itself ("FT232R USB UART"), or what it is ("on-board UART").
    std::string description;
    // The USB device behind the port or the boot device itself; 0 when there is none.
    uint16_t usbVendor = 0;
    uint16_t usbProduct = 0;
    std::string usbSerial;
};

// The serial ports with hardware behind them, then the USB boot devices, each group
// sorted by name. The window and the command line offer the same list.
BOOTWIRE_EXPORT std::vector<PortInfo> ListPorts();
// The serial ports alone, without looking on the USB buses.
BOOTWIRE_EXPORT std::vector<PortInfo> ListSerialPorts();

// The protocol over one transport. Methods return Error::Ok or what went wrong;
// ErrorDetail() tells the last failure in words.
class BOOTWIRE_EXPORT Link {
public:
    Link();
    explicit Link(std::unique_ptr<Transport> transport);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Replaces (and closes) the transport in use.
    void Attach(std::unique_ptr<Transport> transport);
    void Detach();
    bool IsOpen() const;
    // The transport in use (nullptr when none), for callers that speak to a program
    // on the target in its own protocol once the boot ROM has started it.
    Transport* transport() const;

    // Observes payload bytes of downloads as they are sent; empty to stop.
    void SetSendObserver(SendObserver observer);
    // Caps how long one receive may wait on links whose own time-out is longer (USB
    // waits up to five minutes otherwise). 0 = the transport's own time-out.
    void SetReceiveTimeoutLimit(int milliseconds);
    // Raises or drops DTR or RTS on the port (see Transport::SetControlLine).
    Error SetControlLine(ControlLine line, bool on);

    // Writes one register. Processor codes other than 0 and 1 require the first word to be the ack.
    Error WriteRegister(uint32_t address, uint32_t value, uint8_t format, int processorCode,
                        uint32_t* firstWord = nullptr);
    // Reads count bytes from target memory into dest.
    Error ReadData(uint32_t address, uint8_t* dest, size_t count, uint8_t format);
    // Sends the get-status frame and returns the word in *word.
    Error GetStatus(uint32_t* word);
    // The word after get-status must be kWordComplete.
    Error CompleteEndResponse();
    // Asks the running flash program for its status word.
    Error FlashingStatus(uint32_t* word);
    // One write-file header and its payload (HWC, CSF).
    Error FileDownload(FileType type, uint32_t address, const uint8_t* data, size_t size);
    // The image in pieces, then the application header with its first 1024 bytes.
    // bufferSize is how many bytes data holds (at least size); a buffer shorter than
    // 1024 bytes is padded with zeros for the header's copy.
    Error ImageDownload(uint32_t address, const uint8_t* data, size_t size, size_t bufferSize = 0);

    const std::string& ErrorDetail() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The two links that BootwireClass works on, shared by the whole process.
BOOTWIRE_EXPORT Link& ProcessSerialLink();
BOOTWIRE_EXPORT Link& ProcessUsbLink();

}  // namespace bootwire

// The classic interface: integer results, channel selector 0 serial / 1 USB,
// device number 1. No data members; every instance shares the process-wide links.
class BOOTWIRE_EXPORT BootwireClass {
public:
    BootwireClass();
    ~BootwireClass();

    int Vireo_InitComPort(char* portNumber, int lineMode);
    int Vireo_USBEnum();
    int Vireo_USBChangeIdEnum(int unused);
    int Vireo_WriteRegister(int channelAndCode, long address, long value, long format, int device);
    int Vireo_ReadData(int channel, unsigned long address, long* dest, int count, long format, int device);
    int Vireo_SekurelStatus(int channel, int device);
    int Vireo_CompleteEndResponse(int channel, int device);
    long Vireo_FlashingStatus(int channel, int device);
    int Vireo_HWCDownload(int channel, unsigned long address, int size, long* data, int device);
    int Vireo_CSFDownload(int channel, unsigned long address, int size, long* data, int device);
    int Vireo_ImageDownload(int channel, unsigned long address, int size, long* data, int device);
};
