#include "app/virtual_board.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 5000;

}  // namespace

VirtualBoard::VirtualBoard() = default;

VirtualBoard::~VirtualBoard() {
    if (process_ == nullptr || process_->state() == QProcess::NotRunning) return;
    process_->terminate();
    if (!process_->waitForFinished(kStopTimeoutMs)) {
        process_->kill();
        process_->waitForFinished(kStopTimeoutMs);
    }
}

QString VirtualBoard::ProgramBesideApplication() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vireo-sim"));
}

bool VirtualBoard::Start(const QString& program, const QString& cpu, bool usb, QString* error) {
    cpu_ = cpu;
    QStringList arguments{QStringLiteral("--cpu"), cpu};
    if (usb && usbSocket_.isEmpty()) {
        socketDir_ = std::make_unique<QTemporaryDir>();
        if (!socketDir_->isValid()) {
            *error = QStringLiteral("cannot create a folder for the USB socket: ") + socketDir_->errorString();
            return false;
        }
        usbSocket_ = socketDir_->filePath(QStringLiteral("usb.sock"));
    }
    if (usb) arguments << QStringLiteral("--usb-socket") << usbSocket_;
    arguments << extraArguments_;
    process_ = std::make_unique<QProcess>();
    process_->setProgram(program);
    process_->setArguments(arguments);
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start();
    if (!process_->waitForStarted(kStartTimeoutMs)) {
        *error = program + QStringLiteral(": ") + process_->errorString();
        return false;
    }

    // The board prints "serial: PATH" first, then "usb: PATH" when it serves USB.
    QDeadlineTimer deadline(kStartTimeoutMs);
    bool usbSeen = !usb;
    while (serialPath_.isEmpty() || !usbSeen) {
        if (!process_->canReadLine() &&
            (deadline.hasExpired() || !process_->waitForReadyRead(static_cast<int>(deadline.remainingTime())))) {
            *error = QStringLiteral("vireo-sim did not report its ports in time");
            return false;
        }
        while (process_->canReadLine()) {
            const QString line = QString::fromUtf8(process_->readLine()).trimmed();
            if (line.startsWith(QStringLiteral("serial: "))) {
                serialPath_ = line.mid(8);
            } else if (line.startsWith(QStringLiteral("usb: "))) {
                usbSocket_ = line.mid(5);
                usbSeen = true;
            }
        }
    }
    // Whatever the board prints later is drained so that it never blocks on a full pipe.
    QProcess* process = process_.get();
    QObject::connect(process, &QProcess::readyReadStandardOutput, process,
                     [process] { process->readAllStandardOutput(); });
    return true;
}
