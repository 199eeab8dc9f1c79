// A transport that a stop request ends between two pieces of its sends and before
// its receives, so that a run over a slow serial line can be abandoned within a
// fraction of a second rather than after the 64 KiB send it is in.
#pragma once

#include <bootwire/bootwire.h>

#include <cstddef>
#include <memory>
#include <stop_token>
#include <string>

namespace sealbench {

class StoppableTransport final : public bootwire::Transport {
public:
    // Sends go to `inner` in pieces of at most `piece` bytes (0: whole).
    StoppableTransport(std::unique_ptr<bootwire::Transport> inner, std::stop_token stop, size_t piece);

    bootwire::Error Send(const uint8_t* data, size_t n, const bootwire::SendObserver* sent) override;
    bootwire::Error Receive(uint8_t* data, size_t n, size_t* received) override;
    std::string Describe() const override { return inner_->Describe(); }
    void SetReceiveTimeoutLimit(int milliseconds) override { inner_->SetReceiveTimeoutLimit(milliseconds); }
    bootwire::Error SetLineSpeed(int baud) override;
    bootwire::Error SetControlLine(bootwire::ControlLine line, bool on) override;

private:
    bootwire::Error Passed(bootwire::Error error);
    bootwire::Error Stopped();

    std::unique_ptr<bootwire::Transport> inner_;
    std::stop_token stop_;
    size_t piece_;
};

}  // namespace sealbench
