// A vireo-sim process started for `sealbench --simulate TYPE`: the virtual board
// that lets a person try the program without hardware.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class VirtualBoard {
public:
    VirtualBoard();
    ~VirtualBoard();  // ends the process (SIGTERM, then SIGKILL if it lingers)
    VirtualBoard(const VirtualBoard&) = delete;
    VirtualBoard& operator=(const VirtualBoard&) = delete;

    // Starts `program` (vireo-sim) for the processor type `cpu`, with a USB socket
    // when `usb` is set, and waits (bounded) for the paths it prints. False with
    // *error filled when it does not come up.
    bool Start(const QString& program, const QString& cpu, bool usb, QString* error);

    // Where the next Start serves the USB device; empty: a socket in a folder of its own.
    void SetUsbSocketPath(const QString& path) { usbSocket_ = path; }

    // Further vireo-sim options (--pace, --fault ...) for the next Start.
    void SetExtraArguments(const QStringList& arguments) { extraArguments_ = arguments; }

    const QString& SerialPath() const { return serialPath_; }
    const QString& UsbSocket() const { return usbSocket_; }
    const QString& Cpu() const { return cpu_; }

    // vireo-sim beside the running executable.
    static QString ProgramBesideApplication();

private:
    std::unique_ptr<QProcess> process_;
    std::unique_ptr<QTemporaryDir> socketDir_;
    QString serialPath_;
    QString usbSocket_;
    QString cpu_;
    QStringList extraArguments_;
};
