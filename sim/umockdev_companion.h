// --usb-umockdev: vireo-usb-umockdev, started beside the board, plugs the board's
// USB device into a umockdev test bed and serves it from the board's USB socket.
// Its diagnostics join the board's.
#pragma once

#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

#include "common/unique_fd.h"

namespace vsim {

class UmockdevCompanion {
public:
    // Starts the companion (found beside this executable) and waits, bounded, for its
    // test bed. Throws std::runtime_error with the reason.
    UmockdevCompanion(const std::string& boardSocket, const std::vector<std::string>& faults);
    // Ends the companion (SIGTERM, then SIGKILL when it does not go).
    ~UmockdevCompanion();
    UmockdevCompanion(const UmockdevCompanion&) = delete;
    UmockdevCompanion& operator=(const UmockdevCompanion&) = delete;

    // The folder for UMOCKDEV_DIR.
    const std::string& Dir() const { return dir_; }

private:
    void Stop();

    pid_t pid_ = -1;
    std::string dir_;
    std::thread diagnostics_;
};

// A folder of its own for the board's USB socket when the user named none.
class PrivateSocketDir {
public:
    PrivateSocketDir();  // throws std::runtime_error
    ~PrivateSocketDir();
    PrivateSocketDir(const PrivateSocketDir&) = delete;
    PrivateSocketDir& operator=(const PrivateSocketDir&) = delete;
    std::string SocketPath() const { return dir_ + "/usb.sock"; }

private:
    std::string dir_;
};

}  // namespace vsim
