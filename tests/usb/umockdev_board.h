// A virtual board whose USB boot device sits in a umockdev test bed, for tests
// that run under umockdev-wrapper.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "sim_process.h"

namespace sealtest {

class UmockdevBoard : public ::testing::Test {
protected:
    // Starts vireo-sim with the USB device in a test bed and points this process at it.
    void StartBoard(const std::string& cpu, std::vector<std::string> extra = {}) {
        const char* preload = std::getenv("LD_PRELOAD");
        ASSERT_TRUE(preload && std::string(preload).find("libumockdev-preload") != std::string::npos)
            << "run this test under umockdev-wrapper (ctest does)";
        extra.insert(extra.begin(), "--usb-umockdev");
        sim_ = std::make_unique<SimProcess>(cpu, extra);
        ASSERT_TRUE(sim_->ok()) << sim_->error();
        std::string line = sim_->Line();
        ASSERT_EQ(line.rfind("umockdev: ", 0), 0u) << "no test bed announced: '" << line << "' " << sim_->Stderr();
        dir_ = line.substr(10);
        ::setenv("UMOCKDEV_DIR", dir_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("UMOCKDEV_DIR"); }

    SimProcess& sim() { return *sim_; }
    // The test bed folder, for UMOCKDEV_DIR.
    const std::string& umockdevDir() const { return dir_; }

private:
    std::unique_ptr<SimProcess> sim_;
    std::string dir_;
};

}  // namespace sealtest
