#include "stoppable_transport.h"

#include <algorithm>

namespace sealbench {

StoppableTransport::StoppableTransport(std::unique_ptr<bootwire::Transport> inner, std::stop_token stop, size_t piece)
    : inner_(std::move(inner)), stop_(std::move(stop)), piece_(piece == 0 ? SIZE_MAX : piece) {}

bootwire::Error StoppableTransport::Stopped() { return Fail(bootwire::Error::Io, "the run was stopped"); }

// The inner transport's failure, told in this one's words too (the link reads them here).
bootwire::Error StoppableTransport::Passed(bootwire::Error error) {
    return error == bootwire::Error::Ok ? error : Fail(error, inner_->LastDetail());
}

bootwire::Error StoppableTransport::Send(const uint8_t* data, size_t n, const bootwire::SendObserver* sent) {
    size_t done = 0;
    do {
        if (stop_.stop_requested()) {
            return Stopped();
        }
        size_t piece = std::min(piece_, n - done);
        if (bootwire::Error e = inner_->Send(data + done, piece, sent); e != bootwire::Error::Ok) {
            return Passed(e);
        }
        done += piece;
    } while (done < n);
    return bootwire::Error::Ok;
}

bootwire::Error StoppableTransport::Receive(uint8_t* data, size_t n, size_t* received) {
    if (stop_.stop_requested()) {
        *received = 0;
        return Stopped();
    }
    return Passed(inner_->Receive(data, n, received));
}

bootwire::Error StoppableTransport::SetLineSpeed(int baud) { return Passed(inner_->SetLineSpeed(baud)); }

bootwire::Error StoppableTransport::SetControlLine(bootwire::ControlLine line, bool on) {
    return Passed(inner_->SetControlLine(line, on));
}

}  // namespace sealbench
