// Runs a host program (sealbench-cli) as a child of the test, which runs under
// umockdev-wrapper: the child inherits the preload and finds the board's USB
// device in the test bed named by UMOCKDEV_DIR.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace sealtest {

struct HostResult {
    int status = -1;  // exit status; -1 when it had to be killed or could not start
    std::string out;
    std::string err;
};

struct HostOptions {
    std::string umockdevDir;
    // Runs the host without the right to override file permissions, as a user
    // without the udev rule would (root otherwise opens any device node).
    bool withoutFileOverride = false;
    std::chrono::seconds limit{180};
};

HostResult RunHost(const std::string& program, const std::vector<std::string>& args, const HostOptions& options);

}  // namespace sealtest
