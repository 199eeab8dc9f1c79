// CSealbenchDlg: the main window. At the top the connection and processor choices
// ("Serial Port:", "USB", "Type of Vireo:"), below them the tab host with the
// "Download" page. It owns the board its choices open (through the run core's
// OpenBoard, as sealbench-cli does), the shared connection settings that a run reads
// and the session of the program run, and hands the page the board. While a run
// holds the board the choices are locked; closing the window during a run asks
// first, then stops the run.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "app/tab_page_ctrl.h"
#include "download/board/open_board.h"
#include "download/qt/page_debug.h"
#include "download/run/session.h"

class CBoardsPage;
class QCheckBox;
class QMenu;
class QMenuBar;

// The "Serial Port:" list: it looks for ports again each time it opens. It is
// editable, so a port that no list shows (rfc2217://HOST:PORT...) can be typed.
class CPortComboBox : public QComboBox {
public:
    explicit CPortComboBox(QWidget* parent = nullptr) : QComboBox(parent) {}
    std::function<void()> beforePopup;
    void showPopup() override;

protected:
    // Enter in the entry confirms the typed port and goes no further (the window
    // would take it for its OK).
    void keyPressEvent(QKeyEvent* event) override;
};

// The main window's connection choice: the chosen "Serial Port:" entry (-1 none)
// and whether USB is the channel.
struct SharedConnection {
    int portIndex = -1;
    bool usb = false;
};

class CSealbenchDlg : public QDialog {
    Q_OBJECT
public:
    // A port that is not a device node of this machine, e.g. the virtual board's pty.
    struct ExtraPort {
        QString label;
        QString path;
    };
    // Pages beside "Download" that --all-pages shows; the window keeps them constructed anyway.
    using PageFactory = std::function<std::unique_ptr<QWidget>()>;
    struct ExtraPage {
        QString label;
        PageFactory create;
    };

    // With showExtraPages false the extra pages are constructed but get no tab and
    // no window, as in the program's normal configuration.
    CSealbenchDlg(std::vector<ExtraPort> extraPorts = {}, std::vector<ExtraPage> extraPages = {},
                  QWidget* parent = nullptr, bool showExtraPages = true);
    ~CSealbenchDlg() override;

    CPage_Debug* DownloadPage() const { return page_; }
    // The pages and placeholder dialogs constructed without a tab.
    const std::vector<std::unique_ptr<QWidget>>& UnshownPages() const { return unshownPages_; }
    CTabPageCtrl* TabHost() const { return tabHost_; }
    const SharedConnection& Connection() const { return connection_; }
    // The board the window's choices opened; nullptr while none is open.
    bootwire::Link* WindowLink() const { return link_.get(); }
    // Whether a run or a debug operation (on this page or the Boards page) holds a board.
    bool RunInProgress() const;
    // Adds "Reset virtual board" to the Window menu, calling `reset` when chosen.
    void AddVirtualBoardReset(std::function<bool()> reset);
    // Looks for serial ports again, keeping the chosen entry when it still exists.
    void RefreshPorts();
    // Window menu, "Boards": adds the "Boards" tab when it is not there yet and shows it.
    void OpenBoardsPage();

    // Enter, Esc, the close box and the Window menu's Close all end here: during a
    // run the window asks first (not after a termination request), then stops the run.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildLayout();
    void OnInitDialog();
    // Opens the chosen entry; false when it was not opened.
    bool OnSerialPortChanged(int index);
    // Enter in the port entry: a text that no entry holds is a port of the user's own.
    void OnPortTyped();
    void OnTypeChanged(int index);
    void OnUsbClicked();
    void OnAbout();
    // The Window menu's "Erase", after the user confirmed it.
    void OnErase();
    // The Window menu's "Flash layout...": chooses a layout file, or drops the one chosen.
    void OnFlashLayout();
    void ShowMessage(const QString& text);
    void SelectPortEntry(int index);
    // Opens the window's board: its link on success, else the reason as the message
    // box's further lines (with what the driver layer said on the way).
    sealbench::Result<sealbench::OpenedBoard> Open(const sealbench::BoardAddress& address, QString* reason);
    // Finds the USB boot device again (after a FLASHING run it comes back as a new device).
    bootwire::Link* ReopenUsb();
    // The Boards page may need the window's board: it is let go for the run and opened again after.
    void ReleaseForBoards(const std::vector<sealbench::BoardAddress>& boards);
    void RestoreAfterBoards();
    void UpdateChoices();
    void StopRuns();

    // The board that a run started now talks to.
    sealbench::BoardLink ChosenBoard();

    std::unique_ptr<bootwire::Link> link_;
    std::string releasedPort_;  // the window's serial port, let go for a Boards run
    SharedConnection connection_;
    sealbench::Session session_;
    std::vector<ExtraPort> extraPorts_;
    std::vector<ExtraPort> typedPorts_;  // opened once, kept in the list like the others
    std::vector<ExtraPage> extraPages_;
    bool showExtraPages_;
    std::vector<std::unique_ptr<QWidget>> unshownPages_;

    QMenuBar* menuBar_ = nullptr;
    QMenu* windowMenu_ = nullptr;
    QAction* layoutAction_ = nullptr;
    CPortComboBox* portList_ = nullptr;
    QComboBox* typeList_ = nullptr;
    QCheckBox* usbBox_ = nullptr;
    CTabPageCtrl* tabHost_ = nullptr;
    CPage_Debug* page_ = nullptr;
    CBoardsPage* boards_ = nullptr;
    std::unique_ptr<CPage_Debug> ownedPage_;  // until the tab host adopts it
};
