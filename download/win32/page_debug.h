// CPage_Debug (Win32): the "Download" page as a child dialog of the window's tab
// host. It binds the template's controls to the toolkit-free PageModel (what each
// click checks, enables and captions) and drives the Runner.
//
// Threads: "Execute" and the debug buttons run on a launcher thread, so that the
// memory initialisation never stalls the window. The runner's tasks write the
// controls through synchronous cross-thread messages (SendMessageA, SetDlgItemTextA),
// which the GUI thread carries out; the end of a run is posted. The GUI thread
// never blocks on a task without serving those messages: see StopForClose. A run is
// stopped through the runner, which ends the board's call in progress.
#pragma once

#include <bootwire/bootwire.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "download/page/page_model.h"
#include "download/run/run_view.h"
#include "download/run/runner.h"
#include "download/run/session.h"
#include "ui/win32/page_dialog.h"

namespace sealbench::win32 {

class CPage_Debug : public CPageDialog, public RunView {
public:
    // The board a run talks to, as the main window's choice stands when the user acts.
    using BoardSource = std::function<BoardLink()>;
    // Told on the GUI thread when the page starts or ends a run or debug operation.
    using BusyChanged = std::function<void(bool busy)>;

    CPage_Debug(BoardSource board, Session& session);
    ~CPage_Debug() override;

    void SetBusyChanged(BusyChanged busyChanged) { busyChanged_ = std::move(busyChanged); }
    // The initial state the main window puts the page in.
    void InitialState();
    // Main window: "Type of Vireo:" selection changed.
    void SelectProcessor(int index);
    ProcessorType Processor() const { return model_.processor(); }

    // The Window menu's "Fast serial flashing" and its rate.
    void SetFastSerialFlashing(bool on) { fastSerial_ = on; }
    bool FastSerialFlashing() const { return fastSerial_; }
    void SetFastBaud(int baud) { fastBaud_ = baud; }
    int FastBaud() const { return fastBaud_; }
    // The Window menu's "Flash library status timeout" (0: as the library needs).
    void SetStatusTimeout(std::chrono::seconds timeout) { statusTimeout_ = timeout; }
    std::chrono::seconds StatusTimeout() const { return statusTimeout_; }
    // The Window menu's "Verify" and "Erase": the page's current settings, compared
    // with the flash or erased over it by the built-in flash library; false when
    // nothing started.
    bool Verify();
    bool Erase();
    // The Window menu's "Flash layout...": FLASHING writes the layout's images in
    // place of the image file; empty drops it.
    void SetLayout(std::string path) { layoutPath_ = std::move(path); }
    const std::string& Layout() const { return layoutPath_; }

    // True from "Execute" (or a debug button) until the page may start another run.
    bool Busy() const { return busy_; }
    // The settings a run started now would take (the "Boards" page runs them too).
    RunSettings CurrentSettings();

    // The window closes: the run stops at its next send or receive on the board (its
    // log says so), nothing starts afterwards, and this waits (serving the tasks'
    // messages) until both tasks and the launcher have ended, at most `limit`.
    // Afterwards the tasks write nothing more. False when the limit passed.
    bool StopForClose(std::chrono::milliseconds limit);

    // RunView, called from the tasks' threads.
    void AppendLog(std::string_view line, int lineCount) override;
    void SetProgressRange(int64_t minimum, int64_t maximum) override;
    void SetProgressPosition(int64_t position) override;
    void SetProgressCaption(std::string_view caption) override;
    void SetProgressFigures(const ProgressFigures& figures) override;
    void ResetProgress() override;
    void Diagnostic(std::string_view text) override;
    void RunEnded(bool success) override;

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

private:
    void ShowControls();
    void ReadFields();
    void OnClick(int id);
    void OnBrowse(int id);
    void OnExecute();
    // Runs `job` on the launcher thread; false while another job or run is busy.
    bool Launch(std::function<bool()> job);
    void OnLaunchReturned(bool started);
    void OnRunFinished(bool success);
    void SetBusy(bool busy);
    void AppendLogLine(const std::string& line, int lineCount);
    HWND Item(int id) const { return GetDlgItem(hwnd(), id); }

    BoardSource board_;
    Session& session_;
    PageModel model_;
    std::unique_ptr<Runner> runner_;
    std::thread launcher_;
    BusyChanged busyChanged_;
    bool busy_ = false;
    bool fastSerial_ = false;
    int fastBaud_ = bootwire::kStreamDefaultBaud;
    std::chrono::seconds statusTimeout_{0};
    std::string layoutPath_;
    bool runEndedSeen_ = true;
    std::atomic<bool> launchDone_{true};
    std::atomic<bool> detached_{false};  // the tasks no longer write to the controls
    std::atomic<int> inFlight_{0};       // the tasks' writes under way
};

}  // namespace sealbench::win32
