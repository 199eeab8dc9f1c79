// CBoardsPage: the "Boards" tab. It lists the serial ports and USB boot devices that
// boards may be reached on (and the virtual boards the window started), each with a
// tick box. "Flash all" runs the Download page's current settings on every ticked
// board at once, each in a row of its own with its progress bar, phase, bytes, rate
// and result; the row's "Log" button shows that board's status log.
//
// Each board is a sealbench::BoardRun with its own link and threads; a timer on the
// GUI thread reads their state into the rows, so widgets are touched on the GUI
// thread only.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "app/sealbench_dlg.h"
#include "download/board_run.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

class CBoardsPage : public QWidget {
    Q_OBJECT
public:
    // What the page needs of the window: the Download page's settings as they stand,
    // whether the Download page is busy, the links its choices hold (a board the
    // window holds open is let go for the run) and the window's session.
    struct WindowSide {
        std::function<sealbench::RunSettings()> settings;
        std::function<bool()> downloadBusy;
        WindowLinks links;
        sealbench::Session* session = nullptr;
    };

    CBoardsPage(WindowSide window, std::vector<CSealbenchDlg::ExtraPort> virtualBoards, QWidget* parent = nullptr);
    ~CBoardsPage() override;

    // Lists the ports and devices again, keeping the ticks of those still there.
    void RefreshBoards();
    bool Running() const { return !runs_.empty() && timer_.isActive(); }

signals:
    // Every board of a "Flash all" has ended.
    void allEnded();

private:
    class BoardLog;

    void OnFlashAll();
    void OnStop();
    void UpdateRows();
    void ShowLog(int row);
    void ReleaseWindowHold(const std::vector<sealbench::BoardAddress>& boards);
    void RestoreWindowHold();
    void ShowMessage(const QString& text);

    WindowSide window_;
    std::vector<CSealbenchDlg::ExtraPort> virtualBoards_;
    std::vector<std::unique_ptr<BoardLog>> logs_;
    std::vector<std::unique_ptr<sealbench::BoardRun>> runs_;
    QString releasedSerialPort_;  // the window's port, let go for the run
    sealbench::ProcessorType releasedFor_ = sealbench::ProcessorType::None;
    QTimer timer_;

    QListWidget* candidates_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
    QPushButton* flashAllButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QLabel* messageLabel_ = nullptr;
    QTableWidget* table_ = nullptr;
};
