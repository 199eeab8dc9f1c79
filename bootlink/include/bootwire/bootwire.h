// Bootwire: the Vireo boot-ROM command protocol over a serial port, a network
// serial port or USB.
//
// Two layers live here. `bootwire::Link` is the protocol written once against a
// `bootwire::Transport` (anything that can send and receive bytes); a program may
// hold as many links as it has boards, and each link owns its transport. It also
// carries the host's side of the built-in flash libraries' streaming mode (fast
// serial flashing). `BootwireClass` is the classic facade with integer results,
// working on two process-wide links (one serial, one USB) that every instance
// shares; it is there for callers written against that interface.
#pragma once

#include <bootwire/bootwire_export.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
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
    Stopped,         // the caller asked the link to stop (Link::SetStopToken)
    Rejected,        // the program on the target reported a failure, or its result did not check out
};

BOOTWIRE_EXPORT const char* ErrorName(Error error);

// Where the library's diagnostics go: lines without their line end. The default
// writes them to standard output, as the USB look-up always has.
using DiagnosticHandler = std::function<void(std::string_view line)>;
// The process-wide handler; an empty one restores the default.
BOOTWIRE_EXPORT void SetDiagnosticHandler(DiagnosticHandler handler);
// While it lives, the diagnostics of calls made on this thread go to `handler`
// instead (a board of several run at once prefixes them with its name).
class BOOTWIRE_EXPORT DiagnosticScope {
public:
    explicit DiagnosticScope(DiagnosticHandler handler);
    ~DiagnosticScope();
    DiagnosticScope(const DiagnosticScope&) = delete;
    DiagnosticScope& operator=(const DiagnosticScope&) = delete;

private:
    DiagnosticHandler* previous_;
    std::unique_ptr<DiagnosticHandler> handler_;
};

// Response words and commands of the boot ROM.
inline constexpr uint32_t kWordAck = 0x56787856;
inline constexpr uint32_t kWordRegisterDone = 0x128A8A12;
inline constexpr uint32_t kWordComplete = 0x88888888;
// Link::ReadData's detail when the first word is not kWordAck.
inline constexpr char kNotBootRomAnswer[] =
    "the board's answer is not a boot-ROM answer (is it in boot-ROM download mode?)";

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
    // The largest piece a link hands to one Send when it must be able to stop soon:
    // a serial line at 115200 baud moves 4 KiB in about 0.4 s. 0: send whole (USB,
    // where 64 KiB take milliseconds).
    virtual size_t StopSlice() const { return 0; }
    // Raises (on) or drops a modem-control line. Links that have none (USB, raw
    // TCP, a pseudo-terminal) answer Error::Unsupported and say why.
    virtual Error SetControlLine(ControlLine line, bool on);
    // The detail of the last failure, as the operating system or driver gave it.
    const std::string& LastDetail() const { return lastDetail_; }
    // Drops that detail once the failure no longer matters.
    void ForgetDetail() { lastDetail_.clear(); }

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

// The names a serial port is known by, for telling whether two texts name one
// port: a device path with its links followed; for a network port its TCP
// endpoints ("tcp:ADDRESS:PORT" for each address the host resolves to, whatever
// the scheme and however the port number is written). Two texts name one port
// when their identities share one.
BOOTWIRE_EXPORT std::vector<std::string> PortIdentities(const std::string& port);

// Finds and opens the USB boot device (or the virtual board's USB socket when the
// environment variable BOOTWIRE_USB_SIM names one). Its diagnostics go to the
// diagnostic handler.
BOOTWIRE_EXPORT std::unique_ptr<Transport> OpenUsb(Error* error, std::string* detail);

// Opens the USB boot device at `location`, as ListPorts() names it: "BUS-PORT.PORT"
// for a device on a USB bus (the bus number, then the hub ports from the root); on
// Windows "pci0.1400-3.2", its host controller's place on the PCI buses, then the hub
// ports (Windows' location path "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)" and the
// older "Port_#0002.Hub_#0001" are taken too); or "sim:NAME" for a virtual board whose
// socket BOOTWIRE_USB_SIM names or holds. Prints nothing; Error::NotFound when no boot
// device sits there.
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

// Fast serial flashing: the built-in flash libraries' streaming mode
// (flashlib/DATASHEET.md, "Streaming mode"). The boot ROM loads the library at
// 115200 baud; the library then takes the line over at a faster rate and writes
// the image, sent compressed in checked blocks, to flash.
inline constexpr int kStreamRomBaud = 115200;        // where every stream starts and ends
inline constexpr int kStreamUartClockBaud = 921600;  // the board's UART makes this divided by a whole number
inline constexpr int kStreamDefaultBaud = 921600;
// The rates a stream may use, fastest first: what the board's UART makes exactly
// and serial ports offer.
inline constexpr int kStreamRates[] = {921600, 460800, 230400, 115200};

struct StreamJob {
    uint32_t ramBase = 0;
    // The library's code, linked to run at RAM base + 0x4000 (at least 1024 bytes,
    // and it must end below its parameter block).
    std::span<const uint8_t> library;
    // The library's 32-byte parameter block for RAM base + 0xFFE0; the link asks
    // for streaming mode in its own copy.
    std::span<const uint8_t> parameterBlock;
    // What goes into the flash range that the parameter block names.
    std::span<const uint8_t> image;
    int baud = kStreamDefaultBaud;
    LineMode lineMode = LineMode::NoParityOneStop;  // the boot ROM's, for the line times that bound the waits
};

enum class StreamStage {
    Loading,      // the boot ROM takes the library (bytes at 115200)
    Starting,     // the boot ROM starts it
    Connecting,   // hello, the speed change and its proof
    Comparing,    // ranges: the library hashes the range's blocks for the host to compare
    Erasing,      // blocks on the line; the library erases ahead of them
    Programming,  // blocks on the line, the flash written behind them
    Verifying,    // the library reads the flash back for its digest
    Finished,
};

struct StreamProgress {
    StreamStage stage = StreamStage::Loading;
    uint64_t lineBytes = 0;        // everything the host has put on the line
    uint64_t loadBytes = 0;        // of which the boot ROM's load of the library
    uint64_t loadSize = 0;         // what that load sends in all
    uint64_t imageBytesSent = 0;   // image bytes in blocks the library has taken
    uint64_t bytesProgrammed = 0;  // image bytes in flash; while verifying, read back
    uint64_t imageSize = 0;
    int baud = kStreamRomBaud;  // the line's rate now
};

// Called on the caller's thread, often; keep it quick.
using StreamObserver = std::function<void(const StreamProgress&)>;

// What a stream did, whatever its result.
struct StreamReport {
    StreamStage reached = StreamStage::Loading;  // the stage it ended in
    int libraryState = 0;        // Error::Rejected: the library's failed state (0xB1 erase, 0xB2 program, 0xB3 verify)
    bool slowerMayHelp = false;  // the line did not carry the rate: a lower one of kStreamRates may work
    uint32_t imageCrc = 0;       // CRC-32 of the image
    uint32_t flashCrc = 0;       // what the library read back, once it told
    uint64_t compressedBytes = 0;  // block payloads, as first sent
    uint64_t lineBytes = 0;        // everything sent, retransmissions included
    uint32_t blocks = 0;
    uint32_t retransmissions = 0;
    double loadSeconds = 0;    // the boot ROM's load and start of the library
    double streamSeconds = 0;  // from the speed change to the digest
    // What the operating system or the library said along the way.
    std::vector<std::string> diagnostics;
};

// Ranges (flashlib/DATASHEET.md, "Ranges"): one load of a built-in library serves
// several ranges of flash in one session. The library hashes each block of a range
// where the data is (CRC-64), so that only the blocks that differ from the image
// cross the line; a range written is then checked by the library's CRC-32 of it.
inline constexpr uint32_t kRangeBlockSize = 4096;

// A range of flash: a NOR bus address (even), or a NAND offset (a multiple of 16
// KiB) with the last byte of its partition; a NAND range is the bytes its good
// blocks hold, bad blocks skipped.
struct FlashRange {
    uint32_t address = 0;
    uint32_t size = 0;          // EraseRange; WriteRange and VerifyRange take the image's size
    uint32_t partitionEnd = 0;  // NAND: the partition's last byte; 0: to the end of the device
    bool nand = false;
};

struct RangeWrite {
    // Every block goes, as one deflate stream, without comparing first.
    bool everyBlock = false;
    // After writing, the library reads the whole range back for its CRC-32; without
    // it only the blocks written are read back (by their digests).
    bool readBack = true;
};

// What one range request did, whatever its result.
struct RangeReport {
    struct Span {
        uint32_t start = 0;
        uint32_t end = 0;  // one past the last byte
    };
    uint32_t blocks = 0;           // the range's blocks of kRangeBlockSize
    uint32_t blocksDiffering = 0;  // whose digest differed from the image's
    uint32_t blocksSent = 0;       // written, each sent once or more
    uint64_t payloadBytes = 0;     // their payloads, as first sent
    bool readBack = false;         // the library's CRC-32 of the whole range was compared with the image's
    uint32_t imageCrc = 0;
    uint32_t flashCrc = 0;
    // VerifyRange: the stretches of whole blocks that differ (the last cut at the
    // range's end), as NOR bus addresses or NAND offsets.
    std::vector<Span> differing;
    // EraseRange: what the library erased, and the NAND blocks it skipped as bad.
    Span erased;
    uint32_t erasedUnits = 0;
    uint32_t badBlocksSkipped = 0;
    int libraryState = 0;  // Error::Rejected: the library's failed state (0xB1 erase, 0xB2 program, 0xB3 verify)
    std::vector<std::string> diagnostics;
};

// The protocol over one transport. Methods return Error::Ok or what went wrong;
// ErrorDetail() tells the last failure in words. An answer that ended short is
// taken off the line before the next command (what is still owed of it is waited
// for, up to 3 s), so that later answers are read in step.
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
    // What the transport calls itself ("/dev/pts/4", "rfc2217://host:4001"); empty when none.
    std::string Describe() const;

    // Observes payload bytes of downloads as they are sent; empty to stop.
    void SetSendObserver(SendObserver observer);
    // Caps how long one receive may wait on links whose own time-out is longer (USB
    // waits up to five minutes otherwise). 0 = the transport's own time-out.
    void SetReceiveTimeoutLimit(int milliseconds);
    // Once `stop` is requested, the call in progress ends at its next send piece or
    // receive with Error::Stopped, and so does every call after it, until another
    // token is set. A default token never stops.
    void SetStopToken(std::stop_token stop);
    // The line's speed (serial ports); Error::Unsupported where there is none.
    Error SetLineSpeed(int baud);
    // Raises or drops DTR or RTS on the port (see Transport::SetControlLine).
    Error SetControlLine(ControlLine line, bool on);

    // Writes one register. Processor codes other than 0 and 1 require the first word to be the ack.
    Error WriteRegister(uint32_t address, uint32_t value, uint8_t format, int processorCode,
                        uint32_t* firstWord = nullptr);
    // Reads count bytes from target memory into dest. When the first answer word is
    // not the boot ROM's kWordAck the detail starts with kNotBootRomAnswer and the
    // result is Error::UnexpectedWord (dest holds the bytes that came in the data's
    // place) or Error::NoAnswer (fewer came).
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

    // Fast serial flashing of `job` (serial ports only): loads the library, streams
    // the image at job.baud and checks the library's digest of the flash against the
    // image's. Error::Rejected when the library reported a failed stage or the digest
    // differs (report->libraryState says which). On return, also after a failure or a
    // stop, the line is back at 115200 baud, the library has been asked to hand the
    // board back to its boot ROM, and the send observer is cleared.
    Error StreamFlash(const StreamJob& job, const StreamObserver& observer, StreamReport* report);

    // A session of ranges (serial ports only): loads job.library, says hello for
    // ranges and changes to job.baud. job.image may name the session's first range
    // or be empty. A library that speaks only the first version of streaming is
    // still served when job.image names an image: WriteRange of exactly that range
    // sends it whole, in order; any other request then answers Error::Unsupported.
    // `observer` (kept) follows every request of the session, which lasts until
    // CloseRanges, Detach or the link's end. A failure leaves no session open.
    Error OpenRanges(const StreamJob& job, const StreamObserver& observer, StreamReport* report);
    bool RangesOpen() const;
    // Writes `image` at `range` (range.size is ignored): the blocks whose digest
    // differs from the image's, or every block. Error::Rejected when the library
    // failed or its CRC-32 of the range differs from the image's.
    Error WriteRange(const FlashRange& range, std::span<const uint8_t> image, const RangeWrite& how,
                     RangeReport* report);
    // Compares the flash at `range` with `image` by their block digests and writes
    // nothing. Error::Ok also when they differ: report->differing says where.
    Error VerifyRange(const FlashRange& range, std::span<const uint8_t> image, RangeReport* report);
    // Erases the NOR sectors or the good NAND blocks that cover `range`.
    Error EraseRange(const FlashRange& range, RangeReport* report);
    // Ends the session: the line goes back to 115200 baud and the library hands the
    // board back to its boot ROM. `report` gets the session's figures. Safe without one.
    void CloseRanges(StreamReport* report = nullptr);

    const std::string& ErrorDetail() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace bootwire

// The classic interface: integer results, channel selector 0 serial / 1 USB,
// device number 1. No data members; every instance shares the process-wide links.
// A port or device chosen while a call is in progress takes effect for the next
// call: the running one finishes on the board it started on.
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
