// CPage_Debug: the "Download" page. It shows the page's controls, binds them to the
// toolkit-free control model (what each click checks, enables and captions), and
// drives the Runner for "Execute" and the hidden debug buttons.
//
// Threads: "Execute" and the debug operations run on a launcher thread, so that the
// memory initialisation never stalls the window; the runner's tasks report through
// RunView, which this page turns into queued signals. Widgets are touched on the GUI
// thread only.
#pragma once

#include <bootwire/bootwire.h>

#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "download/page/page_model.h"
#include "download/run/run_view.h"
#include "download/run/runner.h"
#include "download/run/session.h"
#include "ui/page_dialog.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// The board a run talks to, as the main window's connection choice stands when the
// user acts.
using BoardSource = std::function<sealbench::BoardLink()>;

class CPage_Debug : public CPageDialog, public sealbench::RunView {
    Q_OBJECT
public:
    CPage_Debug(BoardSource board, sealbench::Session& session, QWidget* parent = nullptr);
    ~CPage_Debug() override;

    // The initial state the main window puts the page in.
    void InitialState();
    // Main window: "Type of Vireo:" selection changed.
    void SelectProcessor(int index);
    sealbench::ProcessorType Processor() const { return model_.processor(); }
    const sealbench::PageModel& Model() const { return model_; }

    // The main window's "Fast serial flashing" item: FLASHING runs with a built-in
    // library over a serial port stream the image once the library runs.
    void SetFastSerialFlashing(bool on) { fastSerial_ = on; }
    bool FastSerialFlashing() const { return fastSerial_; }
    // The rate of fast serial flashing (the Window menu's choice).
    void SetFastBaud(int baud) { fastBaud_ = baud; }
    int FastBaud() const { return fastBaud_; }
    // How long the flash library may stay silent (the Window menu's choice); 0: as
    // the library needs.
    void SetStatusTimeout(std::chrono::seconds timeout) { statusTimeout_ = timeout; }
    std::chrono::seconds StatusTimeout() const { return statusTimeout_; }

    // The Window menu's "Verify" and "Erase": the page's current settings, compared
    // with the flash (nothing written) or erased where the image would go, through
    // the built-in flash library over the serial port. False while the page is busy.
    bool Verify();
    bool Erase();
    // The Window menu's "Flash layout...": FLASHING runs (here and on the Boards page)
    // write the images this TOML file names instead of the image field; empty: none.
    void SetLayout(std::string path) { layoutPath_ = std::move(path); }
    const std::string& Layout() const { return layoutPath_; }
    // Asks for a layout file; empty when none was chosen.
    QString ChooseLayoutFile();

    // True from "Execute" (or a debug button) until the page may start another run.
    bool Busy() const { return busy_; }
    // Stops what runs (at its next send or receive on the board, with a line that says
    // so) and waits for it to end; nothing starts afterwards. The window is closing.
    void StopAndWait();
    // The settings a run started now would take (the "Boards" page runs them on several boards).
    sealbench::RunSettings CurrentSettings() { return Settings(); }

    // RunView, called from any thread.
    void AppendLog(std::string_view line, int lineCount) override;
    void SetProgressRange(int64_t minimum, int64_t maximum) override;
    void SetProgressPosition(int64_t position) override;
    void SetProgressCaption(std::string_view caption) override;
    void SetProgressFigures(const sealbench::ProgressFigures& figures) override;
    void ResetProgress() override;
    void Diagnostic(std::string_view text) override;
    void Summary(const sealbench::RunSummary& summary) override;
    void RunEnded(bool success) override;

signals:
    // The runner's reports, delivered on the GUI thread.
    void logLine(const QString& line, int lineCount);
    void progressRange(qint64 minimum, qint64 maximum);
    void progressPosition(qint64 position);
    void progressCaption(const QString& caption);
    // The bar's own text: per cent and figures.
    void progressText(const QString& text);
    void progressReset();
    void diagnostic(const QString& text);
    // What the run did as a whole, under the bar ("Flashed 256 KiB ... in 0:27 ...").
    void runSummary(const QString& text);
    void runFinished(bool success);
    // The launcher thread is done: `started` tells whether a run's tasks are going.
    void launchReturned(bool started);
    // Emitted on the GUI thread whenever the page may start a run again.
    void idle();
    // A run or a debug operation began (true) or ended (false): it holds the board.
    void busyChanged(bool busy);

private:
    void BuildLayout();
    void ConnectHandlers();
    void ShowControls();
    void ReadFields();
    sealbench::RunSettings Settings();

    void OnExecute();
    void OnBrowseImage();
    void OnBrowseFlashLib();
    void OnBrowseMemoryInit();
    void OnRead();
    void OnCheckSekurel();
    void OnMemInit();

    // Runs `job` on the launcher thread; returns false while another job or run is busy.
    bool Launch(std::function<bool()> job);
    void OnLaunchReturned(bool started);
    void OnRunFinished(bool success);
    // A failed run must not look like a finished one: the bar says so in red.
    void ShowFailedBar(bool failed);
    // The launcher and the run are both over: the page may start another.
    void BecomeIdle();
    void ShowLogLine(const QString& line);
    QString ChooseFile(const QString& title, const QString& filter);

    BoardSource board_;
    sealbench::PageModel model_;
    std::unique_ptr<sealbench::Runner> runner_;
    std::thread launcher_;
    bool busy_ = false;
    bool fastSerial_ = false;
    int fastBaud_ = bootwire::kStreamDefaultBaud;
    std::string layoutPath_;
    std::chrono::seconds statusTimeout_{0};
    bool closing_ = false;
    bool launchDone_ = true;
    bool runEndedSeen_ = true;

    QCheckBox* downloadOnlyBox_ = nullptr;
    QCheckBox* flashingBox_ = nullptr;
    QComboBox* flashTypeList_ = nullptr;
    QLineEdit* flashLibEdit_ = nullptr;
    QPushButton* flashLibBrowse_ = nullptr;
    QCheckBox* ddrBox_ = nullptr;
    QCheckBox* sdramBox_ = nullptr;
    QLineEdit* memInitEdit_ = nullptr;
    QPushButton* memInitBrowse_ = nullptr;
    QCheckBox* secureBox_ = nullptr;
    QPushButton* sekurelButton_ = nullptr;
    QCheckBox* defaultBox_ = nullptr;
    QLabel* addressLabel_ = nullptr;
    QLineEdit* addressEdit_ = nullptr;
    QLineEdit* partitionEdit_ = nullptr;
    QLineEdit* imageEdit_ = nullptr;
    QPushButton* imageBrowse_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPlainTextEdit* statusLog_ = nullptr;
    QPushButton* executeButton_ = nullptr;
    QLabel* runSummary_ = nullptr;
    QGroupBox* debugFrame_ = nullptr;
    QLineEdit* readAddressEdit_ = nullptr;
    QPushButton* readButton_ = nullptr;
    QPushButton* memInitButton_ = nullptr;
};
