// CSealbenchDlg (Win32): the main window, a dialog titled "Sealbench". At the top
// the connection and processor choices ("Serial Port:", "USB", "Type of Vireo:"),
// below them the tab host with the "Download" page; the Window menu and the system
// menu's about item. It owns the board that its choices open (through the run core's
// OpenBoard, as sealbench-cli does) and the session of the program run, and hands
// the page the board when the user acts. While a run holds the board the choices
// are locked; closing the window during a run asks first, then stops the run.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/tab_page_ctrl.h"
#include "app/win32/window_board.h"
#include "download/run/session.h"
#include "download/win32/page_debug.h"
#include "ui/win32/page_dialog.h"

namespace sealbench::win32 {

class CBoardsPage;

class CSealbenchDlg : public CPageDialog {
public:
    // A page beside "Download" that --all-pages shows; the window constructs it anyway.
    struct ExtraPage {
        std::string label;
        std::function<std::unique_ptr<CPageDialog>()> create;
    };

    // With showExtraPages false the extra pages and the two placeholder dialogs are
    // constructed but get no window and no tab, as in the program's normal configuration.
    explicit CSealbenchDlg(std::vector<ExtraPage> extraPages = {}, bool showExtraPages = false);
    ~CSealbenchDlg() override;

    CPage_Debug* DownloadPage() const { return page_; }
    CBoardsPage* BoardsPage() const { return boards_; }
    CTabPageCtrl& TabHost() { return tabs_; }
    const std::vector<std::unique_ptr<CPageDialog>>& UnshownPages() const { return unshownPages_; }
    bool UsbChannel() const { return usb_; }
    // The board the window's choices opened; nullptr while none is open.
    bootwire::Link* WindowLink() const { return board_.Link(); }
    // Whether a run or a debug operation (on this page or the Boards page) holds a board.
    bool RunInProgress() const;
    // The Window menu's "Boards": adds the "Boards" tab when it is not there yet and shows it.
    void OpenBoardsPage();

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

private:
    void RefreshPorts();
    // Opens entry `index`; false when it was not opened.
    bool OnSerialPortChanged(int index);
    // Enter in the port entry: a text that no entry holds is a port of the user's own.
    void OnPortTyped();
    void OnTypeChanged();
    void OnUsbClicked();
    void OnAbout();
    // The Window menu's submenus: "Fast serial flashing rate" and "Flash library status timeout".
    void AddChoiceMenus();
    void OnRateChosen(int rate);
    void OnStatusTimeoutChosen(int index);
    void OnErase();
    void OnFlashLayout();
    // Close box, Esc and Enter: during a run, asks first and stops it.
    void RequestClose(int result);
    void UpdateChoices();
    void Layout();
    void PaintIcon();
    void SelectPortEntry(int index);
    // The board that a run started now talks to.
    BoardLink ChosenBoard();
    // Finds the USB boot device again (after a FLASHING run it comes back as a new device).
    bootwire::Link* ReopenUsb();
    HWND Item(int id) const { return GetDlgItem(hwnd(), id); }

    // Declared first, so that the pages (whose runs use it) go before it.
    CWindowBoard board_;
    Session session_;
    std::vector<ExtraPage> extraPages_;
    bool showExtraPages_;
    std::vector<std::unique_ptr<CPageDialog>> unshownPages_;
    std::vector<std::string> typedPorts_;  // opened once, kept in the list like the others
    CTabPageCtrl tabs_;
    CPage_Debug* page_ = nullptr;  // owned by the tab host
    CBoardsPage* boards_ = nullptr;
    bool usb_ = false;
    HMENU rateMenu_ = nullptr;     // owned by the Window menu
    HMENU timeoutMenu_ = nullptr;  // owned by the Window menu
    int portIndex_ = -1;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
};

}  // namespace sealbench::win32
