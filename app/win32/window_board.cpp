#include "app/win32/window_board.h"

namespace sealbench::win32 {

WindowOpen CWindowBoard::Open(const BoardAddress& address, ProcessorType processor) {
    link_.reset();
    WindowOpen result;
    Result<OpenedBoard> opened = OpenBoardForWindow(address, processor, &result.reason);
    result.ok = opened.Ok();
    if (result.ok) {
        link_ = std::move(opened.value.link);
        result.notice = std::move(opened.value.notice);
    }
    return result;
}

void CWindowBoard::ReleaseFor(const std::vector<BoardAddress>& boards, bool usbChannel, Session& session) {
    if (!link_) return;
    for (const BoardAddress& board : boards) {
        if (board.usb && usbChannel) {
            link_.reset();
            session.flashingDownloadDone = true;
            return;
        }
        if (!board.usb && !usbChannel && link_->Describe() == board.port) {
            releasedPort_ = board.port;
            link_.reset();
            return;
        }
    }
}

void CWindowBoard::Restore(ProcessorType processor) {
    if (releasedPort_.empty()) return;
    Open(SerialBoard(releasedPort_), processor);
    releasedPort_.clear();
}

}  // namespace sealbench::win32
