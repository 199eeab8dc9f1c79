#include "app/tab_page_ctrl.h"

#include <QApplication>
#include <QFocusEvent>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <algorithm>

namespace {

constexpr int kPageMargin = 4;

QWidget* FirstFocusableChild(QWidget* page) {
    for (QWidget* w = page->nextInFocusChain(); w != nullptr && w != page; w = w->nextInFocusChain()) {
        if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(page))
            return w;
    }
    return nullptr;
}

QWidget* LastFocusableChild(QWidget* page) {
    QWidget* last = nullptr;
    for (QWidget* w = page->nextInFocusChain(); w != nullptr && w != page; w = w->nextInFocusChain()) {
        if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(page))
            last = w;
    }
    return last;
}

}  // namespace

QRect PlacePage(QSize client, const TabPlacement& tabs) {
    const int w = client.width();
    const int h = client.height();
    switch (tabs.side) {
        case TabPlacement::Side::Left:
        case TabPlacement::Side::Right: {
            const int band = tabs.rows * tabs.item.width();
            const int x = tabs.side == TabPlacement::Side::Right ? kPageMargin : band + kPageMargin;
            return QRect(x, kPageMargin, w - band - 2 * kPageMargin, h - 2 * kPageMargin);
        }
        case TabPlacement::Side::Top:
        case TabPlacement::Side::Bottom:
        default: {
            const int band = tabs.rows * tabs.item.height();
            const int y = tabs.side == TabPlacement::Side::Bottom ? kPageMargin : band + kPageMargin;
            return QRect(kPageMargin, y, w - 2 * kPageMargin, h - band - 2 * kPageMargin);
        }
    }
}

CTabPageCtrl::CTabPageCtrl(QWidget* parent) : QWidget(parent), tabBar_(new QTabBar(this)) {
    tabBar_->setDrawBase(false);  // the host draws the frame the tabs sit on
    tabBar_->setExpanding(false);
    // The host hands the keyboard focus straight to the page's remembered control.
    tabBar_->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);
    connect(tabBar_, &QTabBar::currentChanged, this, &CTabPageCtrl::OnTabChanged);
    connect(qApp, &QApplication::focusChanged, this, &CTabPageCtrl::OnFocusChanged);
}

CTabPageCtrl::~CTabPageCtrl() { RemoveAllPages(); }

void CTabPageCtrl::SetTabSide(TabPlacement::Side side) {
    side_ = side;
    switch (side) {
        case TabPlacement::Side::Top:
            tabBar_->setShape(QTabBar::RoundedNorth);
            break;
        case TabPlacement::Side::Bottom:
            tabBar_->setShape(QTabBar::RoundedSouth);
            break;
        case TabPlacement::Side::Left:
            tabBar_->setShape(QTabBar::RoundedWest);
            break;
        case TabPlacement::Side::Right:
            tabBar_->setShape(QTabBar::RoundedEast);
            break;
    }
    PlaceTabBar();
    PlaceCurrentPage();
}

int CTabPageCtrl::AddPage(const QString& label, int pageId, QWidget* page) {
    return InsertTab(label, pageId, page, nullptr);
}

int CTabPageCtrl::AddPage(const QString& label, int pageId, const std::function<std::unique_ptr<QWidget>()>& create) {
    std::unique_ptr<QWidget> page = create ? create() : nullptr;
    if (page == nullptr) return -1;
    QWidget* raw = page.get();
    return InsertTab(label, pageId, raw, std::move(page));
}

int CTabPageCtrl::InsertTab(const QString& label, int pageId, QWidget* page, std::unique_ptr<QWidget> owned) {
    if (page == nullptr) return -1;
    switching_ = true;
    const int index = tabBar_->addTab(label);
    switching_ = false;
    if (index < 0) return -1;

    Tab tab;
    tab.page = page;
    tab.pageId = pageId;
    tabs_.push_back(std::move(tab));
    // The page may have been built as a child of the main window: adopt it.
    page->setParent(this);
    page->hide();
    if (!size().isEmpty()) page->setGeometry(PageRect(index));
    tabs_.back().owned = std::move(owned);

    const bool focusFirst = OnPageAdded(index, pageId);
    tabs_[static_cast<size_t>(index)].focus = focusFirst ? FirstFocusableChild(page) : QApplication::focusWidget();

    PlaceTabBar();
    updateGeometry();  // the window's minimum follows the pages
    if (GetPageCount() == 1) {
        current_ = 0;
        EnterPage(0);
    }
    return index;
}

int CTabPageCtrl::RemovePage(int index) {
    if (!ValidIndex(index)) return 0;
    OnPageRemoved(index, tabs_[static_cast<size_t>(index)].pageId);
    if (index == current_ && GetPageCount() >= 2) ActivatePage(index == GetPageCount() - 1 ? index - 1 : index + 1);

    Tab tab = std::move(tabs_[static_cast<size_t>(index)]);
    tabs_.erase(tabs_.begin() + index);
    switching_ = true;
    tabBar_->removeTab(index);
    switching_ = false;
    if (current_ == index)
        current_ = -1;
    else if (current_ > index)
        --current_;
    if (tab.page != nullptr) {
        tab.page->hide();
        // A page the caller keeps is handed back as a hidden window of its own.
        if (tab.owned == nullptr) tab.page->setParent(nullptr);
    }
    tab.owned.reset();
    tabBar_->update();
    return 1;
}

void CTabPageCtrl::RemoveAllPages() {
    current_ = -1;
    while (!tabs_.empty()) {
        const int last = GetPageCount() - 1;
        OnPageRemoved(last, tabs_.back().pageId);
        Tab tab = std::move(tabs_.back());
        tabs_.pop_back();
        switching_ = true;
        tabBar_->removeTab(last);
        switching_ = false;
        if (tab.page != nullptr) {
            tab.page->hide();
            if (tab.owned == nullptr) tab.page->setParent(nullptr);
        }
    }
}

bool CTabPageCtrl::GetPageLabel(int index, QString* label) const {
    if (!ValidIndex(index) || label == nullptr) return false;
    // Labels are read up to 1,024 characters, as the host has always done.
    *label = tabBar_->tabText(index).left(1024);
    return true;
}

bool CTabPageCtrl::SetPageLabel(int index, const QString& label) {
    if (!ValidIndex(index)) return false;
    tabBar_->setTabText(index, label);
    PlaceTabBar();
    PlaceCurrentPage();
    return true;
}

int CTabPageCtrl::GetPageId(int index) const {
    return ValidIndex(index) ? tabs_[static_cast<size_t>(index)].pageId : -1;
}

int CTabPageCtrl::SetPageId(int index, int pageId) {
    if (!ValidIndex(index)) return -1;
    const int previous = tabs_[static_cast<size_t>(index)].pageId;
    tabs_[static_cast<size_t>(index)].pageId = pageId;
    return previous;
}

QWidget* CTabPageCtrl::GetPage(int index) const {
    return ValidIndex(index) ? tabs_[static_cast<size_t>(index)].page.data() : nullptr;
}

int CTabPageCtrl::GetPageIndex(int pageId) const {
    for (int i = 0; i < GetPageCount(); ++i) {
        if (tabs_[static_cast<size_t>(i)].pageId == pageId) return i;
    }
    return -1;
}

int CTabPageCtrl::ActivatePage(int index) {
    if (!ValidIndex(index)) return 0;
    if (index == current_) return 1;
    LeavePage(current_);
    current_ = index;
    switching_ = true;
    tabBar_->setCurrentIndex(index);
    switching_ = false;
    EnterPage(index);
    return 1;
}

QRect CTabPageCtrl::PageRect(int index) const {
    TabPlacement tabs;
    tabs.side = side_;
    tabs.rows = 1;  // QTabBar keeps its tabs in one row and scrolls them
    tabs.item = ValidIndex(index) ? tabBar_->tabRect(index).size() : QSize();
    return PlacePage(size(), tabs);
}

bool CTabPageCtrl::OnPageAdded(int, int) { return true; }

void CTabPageCtrl::OnPageActivated(int, int) {}
void CTabPageCtrl::OnPageDeactivated(int, int) {}
void CTabPageCtrl::OnPageRemoved(int, int) {}

void CTabPageCtrl::OnTabChanged(int index) {
    if (switching_) return;
    if (ValidIndex(current_)) {
        OnPageDeactivated(current_, tabs_[static_cast<size_t>(current_)].pageId);
        LeavePage(current_);
    }
    current_ = index;
    if (!ValidIndex(index)) return;
    EnterPage(index);
    OnPageActivated(index, tabs_[static_cast<size_t>(index)].pageId);
}

void CTabPageCtrl::LeavePage(int index) {
    if (!ValidIndex(index)) return;
    Tab& tab = tabs_[static_cast<size_t>(index)];
    if (tab.page == nullptr) return;
    if (QWidget* focus = tab.page->focusWidget(); focus != nullptr && tab.page->isAncestorOf(focus)) tab.focus = focus;
    tab.page->hide();
}

void CTabPageCtrl::EnterPage(int index) {
    Tab& tab = tabs_[static_cast<size_t>(index)];
    if (tab.page == nullptr) return;
    tab.page->setGeometry(PageRect(index));
    tab.page->show();
    if (tab.focus != nullptr && tab.page->isAncestorOf(tab.focus)) tab.focus->setFocus(Qt::OtherFocusReason);
}

void CTabPageCtrl::PlaceTabBar() {
    const QSize hint = tabBar_->sizeHint();
    switch (side_) {
        case TabPlacement::Side::Top:
            tabBar_->setGeometry(0, 0, width(), hint.height());
            break;
        case TabPlacement::Side::Bottom:
            tabBar_->setGeometry(0, height() - hint.height(), width(), hint.height());
            break;
        case TabPlacement::Side::Left:
            tabBar_->setGeometry(0, 0, hint.width(), height());
            break;
        case TabPlacement::Side::Right:
            tabBar_->setGeometry(width() - hint.width(), 0, hint.width(), height());
            break;
    }
}

void CTabPageCtrl::PlaceCurrentPage() {
    if (ValidIndex(current_) && tabs_[static_cast<size_t>(current_)].page != nullptr)
        tabs_[static_cast<size_t>(current_)].page->setGeometry(PageRect(current_));
}

void CTabPageCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceTabBar();
    PlaceCurrentPage();
}

QSize CTabPageCtrl::AroundPages(QSize (QWidget::*hint)() const) const {
    QSize page(0, 0);
    for (const Tab& tab : tabs_) {
        if (tab.page) page = page.expandedTo((tab.page->*hint)());
    }
    const QSize bar = tabBar_->sizeHint();
    const int margins = 2 * kPageMargin;
    if (side_ == TabPlacement::Side::Left || side_ == TabPlacement::Side::Right)
        return {page.width() + bar.width() + margins, std::max(page.height() + margins, bar.height())};
    return {std::max(page.width() + margins, bar.width()), page.height() + bar.height() + margins};
}

QSize CTabPageCtrl::minimumSizeHint() const { return AroundPages(&QWidget::minimumSizeHint); }

QSize CTabPageCtrl::sizeHint() const { return AroundPages(&QWidget::sizeHint); }

void CTabPageCtrl::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (!ValidIndex(current_)) return;
    Tab& tab = tabs_[static_cast<size_t>(current_)];
    if (!tab.page) return;
    // Tab and Shift+Tab walk into the page from its first or last control, so that
    // the keyboard reaches every control; a click or a window switch returns to the
    // control the user left.
    QWidget* target = nullptr;
    if (event->reason() == Qt::TabFocusReason) {
        target = FirstFocusableChild(tab.page);
    } else if (event->reason() == Qt::BacktabFocusReason) {
        target = LastFocusableChild(tab.page);
    } else {
        target = tab.focus != nullptr ? tab.focus.data() : FirstFocusableChild(tab.page);
    }
    if (target != nullptr) target->setFocus(event->reason());
}

void CTabPageCtrl::OnFocusChanged(QWidget*, QWidget* now) {
    // Whatever takes the focus inside the shown page is where the user comes back to.
    if (now == nullptr || !ValidIndex(current_)) return;
    Tab& tab = tabs_[static_cast<size_t>(current_)];
    if (tab.page != nullptr && tab.page->isVisible() && tab.page->isAncestorOf(now)) tab.focus = now;
}

void CTabPageCtrl::paintEvent(QPaintEvent*) {
    // The frame around the display area, joined to the tabs as the style draws it.
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.shape = tabBar_->shape();
    frame.tabBarSize = tabBar_->size();
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    const QRect bar = tabBar_->geometry();
    switch (side_) {
        case TabPlacement::Side::Top:
            frame.rect = rect().adjusted(0, bar.height() - overlap, 0, 0);
            break;
        case TabPlacement::Side::Bottom:
            frame.rect = rect().adjusted(0, 0, 0, overlap - bar.height());
            break;
        case TabPlacement::Side::Left:
            frame.rect = rect().adjusted(bar.width() - overlap, 0, 0, 0);
            break;
        case TabPlacement::Side::Right:
            frame.rect = rect().adjusted(0, 0, overlap - bar.width(), 0);
            break;
    }
    frame.tabBarRect = bar;
    QStylePainter painter(this);
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
}
