// The Win32 serial port's settings field by field, and what a port text opens.
// The transfers themselves are tested end to end under Wine against vireo-sim.
#include <gtest/gtest.h>

#include <cstring>

#include "serial_win32.h"

namespace bootwire::win32 {
namespace {

DCB Reported() {
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONE5STOPBITS;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = TRUE;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fDsrSensitivity = TRUE;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.fErrorChar = TRUE;
    dcb.fNull = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 77;
    return dcb;
}

void ExpectBootLine(const DCB& dcb) {
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fParity);  // parity is sent but never checked
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_FALSE(dcb.fDsrSensitivity);
    EXPECT_TRUE(dcb.fTXContinueOnXoff);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    EXPECT_FALSE(dcb.fErrorChar);
    EXPECT_FALSE(dcb.fNull);
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_TRUE(dcb.fAbortOnError);
    // What the boot line does not name stays as the port reported it.
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.XonLim, 77);
}

TEST(SerialWin32Settings, LineModesGiveParityAndStopBits) {
    DCB odd = Reported();
    ApplyBootLine(&odd, 0);
    ExpectBootLine(odd);
    EXPECT_EQ(odd.Parity, ODDPARITY);
    EXPECT_EQ(odd.StopBits, TWOSTOPBITS);

    DCB none = Reported();
    ApplyBootLine(&none, 1);
    ExpectBootLine(none);
    EXPECT_EQ(none.Parity, NOPARITY);
    EXPECT_EQ(none.StopBits, ONESTOPBIT);

    DCB kept = Reported();
    ApplyBootLine(&kept, 2);
    ExpectBootLine(kept);
    EXPECT_EQ(kept.Parity, EVENPARITY);
    EXPECT_EQ(kept.StopBits, ONE5STOPBITS);
}

TEST(SerialWin32Settings, TimeoutsBoundEveryTransfer) {
    COMMTIMEOUTS t = BootLineTimeouts();
    // A read of n bytes ends after 3 s plus 5 ms a byte with what arrived.
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 5u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 3000u);
    // 0 and 0 would let a write wait for ever; 1000 ms a byte nearly so.
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 1u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 3000u);
}

TEST(SerialWin32Settings, PortTexts) {
    std::string name;
    EXPECT_EQ(ComDeviceName("3", &name), "\\\\.\\COM3");
    EXPECT_EQ(name, "COM3");
    EXPECT_EQ(ComDeviceName("12", &name), "\\\\.\\COM12");
    EXPECT_EQ(name, "COM12");
    EXPECT_EQ(ComDeviceName("com7", &name), "\\\\.\\COM7");
    EXPECT_EQ(name, "COM7");
    EXPECT_EQ(ComDeviceName("007", &name), "\\\\.\\COM7");
    EXPECT_EQ(ComDeviceName("\\\\.\\COM20", &name), "\\\\.\\COM20");
    EXPECT_EQ(name, "\\\\.\\COM20");
    EXPECT_EQ(ComDeviceName("\\\\.\\CNCA0", &name), "\\\\.\\CNCA0");
    // Not port numbers: taken as they are, and the open decides.
    EXPECT_EQ(ComDeviceName("0", &name), "0");
    EXPECT_EQ(ComDeviceName("COM", &name), "COM");
    EXPECT_EQ(ComDeviceName("COMX", &name), "COMX");
    EXPECT_EQ(ComDeviceName("12345678", &name), "12345678");
    EXPECT_EQ(ComDeviceName("", &name), "");
}

TEST(SerialWin32Open, MissingPortIsNotFoundAndNamed) {
    Error error = Error::Ok;
    std::string detail;
    auto t = OpenSerial("250", 1, &error, &detail);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(error, Error::NotFound);
    EXPECT_EQ(detail.rfind("cannot open COM250: ", 0), 0u) << detail;
}

TEST(SerialWin32Open, AFileIsNotASerialPort) {
    wchar_t folder[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, folder), 0u);
    std::wstring path = std::wstring(folder) + L"sealbench-not-a-port.txt";
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
    Error error = Error::Ok;
    std::string detail;
    std::string narrow = sealbench::win32::Narrow(path);
    auto t = OpenSerial(narrow, 1, &error, &detail);
    ::DeleteFileW(path.c_str());
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(error, Error::NotFound);
    EXPECT_EQ(detail, narrow + " is not a serial port");
}

}  // namespace
}  // namespace bootwire::win32
