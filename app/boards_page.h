// CBoardsPage: the "Boards" tab. It lists the serial ports and USB boot devices that
// boards may be reached on (and the virtual boards the window started), each with a
// tick box. "Flash all" runs the Download page's current settings on every ticked
// board at once, each in a row of its own with its progress bar, phase, bytes, rate
// and result; the row's "Log" button shows that board's status log.
//
// Each board is a sealbench::BoardRun with its own link and threads; a timer on the
// GUI thread reads their state into the rows, so widgets are touched on the GUI
// thread only. "Run as station" makes the ticked places a station's slots instead
// (CStationPanel): each board that arrives in one is flashed at once.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "app/sealbench_dlg.h"
#include "download/board/board_row.h"
#include "download/board/board_run.h"

class CStationPanel;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

class CBoardsPage : public QWidget {
    Q_OBJECT
public:
    // What the page needs of the window: the Download page's settings as they stand,
    // whether the Download page is busy, and the window's board let go for a run
    // that needs it (it is exclusive) and taken again after.
    struct WindowSide {
        std::function<sealbench::RunSettings()> settings;
        std::function<bool()> downloadBusy;
        std::function<void(const std::vector<sealbench::BoardAddress>&)> release;
        std::function<void()> restore;
    };

    CBoardsPage(WindowSide window, std::vector<CSealbenchDlg::ExtraPort> virtualBoards, QWidget* parent = nullptr);
    ~CBoardsPage() override;

    // Lists the ports and devices again, keeping the ticks of those still there.
    void RefreshBoards();
    bool Running() const;
    // Stops every board and waits for them: the window is closing.
    void StopAndWait();

signals:
    // Every board of a "Flash all", or every slot of a station, has ended.
    void allEnded();
    // A "Flash all" or a station began (true) or ended (false).
    void runningChanged(bool running);

private:
    void OnFlashAll();
    void OnStation();
    void OnStop();
    std::vector<sealbench::BoardAddress> TickedBoards() const;
    void SetRunning(bool running);
    void UpdateRows();
    void ShowLog(int row);
    void ShowMessage(const QString& text);

    WindowSide window_;
    std::vector<CSealbenchDlg::ExtraPort> virtualBoards_;
    std::vector<std::unique_ptr<sealbench::BoardLog>> logs_;
    std::vector<std::unique_ptr<sealbench::BoardRun>> runs_;
    bool released_ = false;  // the window's board is let go for the run
    QTimer timer_;

    QListWidget* candidates_ = nullptr;
    QPushButton* refreshButton_ = nullptr;
    QPushButton* flashAllButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* stationButton_ = nullptr;
    QLineEdit* identityEdit_ = nullptr;
    CStationPanel* station_ = nullptr;
    QLabel* messageLabel_ = nullptr;
    QTableWidget* table_ = nullptr;
};
