// CTabPageCtrl: the tab host of the main window. It keeps, for each tab, the page
// widget, whether it owns it, the caller's page id and the widget that had the focus
// when the page was last left, and it places the page itself: 4 pixels inside the
// client area, clear of the tab row.
#pragma once

#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QTabBar;

// Where the tabs stand and how big one is; the page's place follows from it.
struct TabPlacement {
    enum class Side { Top, Bottom, Left, Right };
    Side side = Side::Top;
    int rows = 1;  // rows of tabs
    QSize item;    // the page's own tab
};

// The page's rectangle in a client area of `client` size.
QRect PlacePage(QSize client, const TabPlacement& tabs);

class CTabPageCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CTabPageCtrl(QWidget* parent = nullptr);
    ~CTabPageCtrl() override;

    void SetTabSide(TabPlacement::Side side);

    // Adds a tab for a page the caller keeps (not owned). Returns the tab's index, or -1.
    int AddPage(const QString& label, int pageId, QWidget* page);
    // Adds a tab for a page the host creates and owns; -1 when `create` gives no page.
    int AddPage(const QString& label, int pageId, const std::function<std::unique_ptr<QWidget>()>& create);
    // 1, or 0 for an index beyond the last tab.
    int RemovePage(int index);
    void RemoveAllPages();
    int GetPageCount() const { return static_cast<int>(tabs_.size()); }

    bool GetPageLabel(int index, QString* label) const;
    bool SetPageLabel(int index, const QString& label);
    int GetPageId(int index) const;
    // Returns the previous id, or -1 for a bad index.
    int SetPageId(int index, int pageId);
    QWidget* GetPage(int index) const;
    int GetPageIndex(int pageId) const;
    int GetCurSel() const { return current_; }
    // 1 when the page is now shown, 0 for a bad index. The hooks are not called.
    int ActivatePage(int index);

    // The rectangle a page takes now.
    QRect PageRect(int index) const;
    QTabBar* tabBar() const { return tabBar_; }

    // Room for the largest page's own minimum (or preferred) size, the tabs and the
    // margins: the window cannot be made so small that a page's controls clip.
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    // Hooks with the tab's index and page id. OnPageAdded says whether the focus
    // starts on the page's first control (else on the widget that has it now).
    virtual bool OnPageAdded(int index, int pageId);
    virtual void OnPageActivated(int index, int pageId);
    virtual void OnPageDeactivated(int index, int pageId);
    virtual void OnPageRemoved(int index, int pageId);

    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Tab {
        QPointer<QWidget> page;
        std::unique_ptr<QWidget> owned;  // set when the host created the page
        int pageId = 0;
        QPointer<QWidget> focus;
    };

    int InsertTab(const QString& label, int pageId, QWidget* page, std::unique_ptr<QWidget> owned);
    void OnTabChanged(int index);
    void LeavePage(int index);
    void EnterPage(int index);
    void PlaceTabBar();
    void PlaceCurrentPage();
    QSize AroundPages(QSize (QWidget::*hint)() const) const;
    void OnFocusChanged(QWidget* old, QWidget* now);
    bool ValidIndex(int index) const { return index >= 0 && index < GetPageCount(); }

    QTabBar* tabBar_;
    TabPlacement::Side side_ = TabPlacement::Side::Top;
    std::vector<Tab> tabs_;
    int current_ = -1;
    bool switching_ = false;  // the program changes the tab; the bar's signal is not the user's
};
