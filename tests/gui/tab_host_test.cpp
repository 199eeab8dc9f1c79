// The tab host: placement, its operations, hooks and the focus it remembers per page.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QVBoxLayout>

#include "app/about_dlg.h"
#include "app/tab_page_ctrl.h"
#include "common/version.h"

namespace {

TEST(PlacePage, HorizontalTabsOnTopLeaveTheTabRowAndFourPixels) {
    TabPlacement tabs;
    tabs.side = TabPlacement::Side::Top;
    tabs.rows = 1;
    tabs.item = QSize(70, 20);
    EXPECT_EQ(PlacePage(QSize(600, 400), tabs), QRect(4, 24, 592, 372));
}

TEST(PlacePage, OtherSidesAndRows) {
    TabPlacement tabs;
    tabs.item = QSize(80, 20);
    tabs.side = TabPlacement::Side::Bottom;
    EXPECT_EQ(PlacePage(QSize(600, 400), tabs), QRect(4, 4, 592, 372));
    tabs.rows = 2;
    tabs.side = TabPlacement::Side::Top;
    EXPECT_EQ(PlacePage(QSize(600, 400), tabs), QRect(4, 44, 592, 352));
    tabs.rows = 1;
    tabs.side = TabPlacement::Side::Left;
    EXPECT_EQ(PlacePage(QSize(600, 400), tabs), QRect(84, 4, 512, 392));
    tabs.side = TabPlacement::Side::Right;
    EXPECT_EQ(PlacePage(QSize(600, 400), tabs), QRect(4, 4, 512, 392));
}

// A page with two fields, so that the focus has somewhere to be remembered.
std::unique_ptr<QWidget> MakePage(const QString& name) {
    auto page = std::make_unique<QWidget>();
    page->setObjectName(name);
    auto* layout = new QVBoxLayout(page.get());
    for (int i = 0; i < 2; ++i) {
        auto* field = new QLineEdit(page.get());
        field->setObjectName(name + QString::number(i));
        layout->addWidget(field);
    }
    return page;
}

// Counts the hooks as they are called.
class CountingHost : public CTabPageCtrl {
public:
    int added = 0, activated = 0, deactivated = 0, removed = 0;
    bool focusFirst = true;

protected:
    bool OnPageAdded(int, int) override {
        ++added;
        return focusFirst;
    }
    void OnPageActivated(int, int) override { ++activated; }
    void OnPageDeactivated(int, int) override { ++deactivated; }
    void OnPageRemoved(int, int) override { ++removed; }
};

class TabHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(600, 400);
        host = new CountingHost;
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(host);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    QWidget window;
    CountingHost* host = nullptr;
};

TEST_F(TabHostTest, PagesArePlacedInsideTheClientArea) {
    host->resize(600, 400);
    const int first = host->AddPage("Download", 0, [] { return MakePage("a"); });
    ASSERT_EQ(first, 0);
    QWidget* page = host->GetPage(0);
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(page->isVisible());
    EXPECT_EQ(page->parentWidget(), host);
    const int tabHeight = host->tabBar()->tabRect(0).height();
    ASSERT_GT(tabHeight, 0);
    EXPECT_EQ(page->geometry(), QRect(4, tabHeight + 4, 592, 400 - tabHeight - 8));

    // Resizing the host moves the page with it.
    window.resize(700, 500);
    ASSERT_TRUE(QTest::qWaitFor([&] { return host->width() == 700; }));
    EXPECT_EQ(page->geometry(), QRect(4, tabHeight + 4, 692, 500 - tabHeight - 8));
}

TEST_F(TabHostTest, OperationsByIndexAndId) {
    EXPECT_EQ(host->AddPage("none", 1, static_cast<QWidget*>(nullptr)), -1);
    EXPECT_EQ(host->AddPage("none", 1, [] { return std::unique_ptr<QWidget>(); }), -1);
    EXPECT_EQ(host->GetPageCount(), 0);

    EXPECT_EQ(host->AddPage("A", 10, [] { return MakePage("a"); }), 0);
    EXPECT_EQ(host->AddPage("B", 20, [] { return MakePage("b"); }), 1);
    EXPECT_EQ(host->added, 2);
    EXPECT_EQ(host->GetPageCount(), 2);
    EXPECT_EQ(host->GetPageIndex(20), 1);
    EXPECT_EQ(host->GetPageIndex(30), -1);
    EXPECT_EQ(host->SetPageId(1, 30), 20);
    EXPECT_EQ(host->GetPageId(1), 30);
    EXPECT_EQ(host->GetPageId(2), -1);
    EXPECT_EQ(host->SetPageId(-1, 5), -1);

    QString label;
    EXPECT_TRUE(host->GetPageLabel(1, &label));
    EXPECT_EQ(label, "B");
    EXPECT_TRUE(host->SetPageLabel(1, "Bee"));
    host->GetPageLabel(1, &label);
    EXPECT_EQ(label, "Bee");
    EXPECT_FALSE(host->SetPageLabel(2, "x"));
    EXPECT_EQ(host->GetPage(2), nullptr);

    // Activation by program shows the page and calls no hooks.
    EXPECT_EQ(host->ActivatePage(5), 0);
    EXPECT_EQ(host->ActivatePage(0), 1);
    EXPECT_EQ(host->ActivatePage(1), 1);
    EXPECT_TRUE(host->GetPage(1)->isVisible());
    EXPECT_FALSE(host->GetPage(0)->isVisible());
    EXPECT_EQ(host->activated, 0);
    EXPECT_EQ(host->deactivated, 0);
}

TEST_F(TabHostTest, RemovingTheCurrentPageShowsAnotherAndDeletesOnlyOwnedPages) {
    auto kept = MakePage("kept");
    QPointer<QWidget> keptPage = kept.get();
    host->AddPage("owned", 1, [] { return MakePage("o"); });
    host->AddPage("kept", 2, kept.get());
    host->AddPage("third", 3, [] { return MakePage("t"); });
    QPointer<QWidget> owned = host->GetPage(0);

    host->ActivatePage(2);
    EXPECT_EQ(host->RemovePage(7), 0);
    // The last tab goes: the previous one is shown.
    EXPECT_EQ(host->RemovePage(2), 1);
    EXPECT_EQ(host->removed, 1);
    EXPECT_EQ(host->GetCurSel(), 1);
    EXPECT_TRUE(keptPage->isVisible());

    // A page the caller keeps survives its tab, hidden and no longer the host's.
    EXPECT_EQ(host->RemovePage(1), 1);
    ASSERT_FALSE(keptPage.isNull());
    EXPECT_FALSE(keptPage->isVisible());
    EXPECT_EQ(keptPage->parentWidget(), nullptr);
    EXPECT_TRUE(owned->isVisible());

    host->RemoveAllPages();
    EXPECT_EQ(host->GetPageCount(), 0);
    EXPECT_TRUE(owned.isNull()) << "an owned page is deleted with its tab";
}

TEST_F(TabHostTest, UserTabChangeCallsHooksAndRemembersTheFocus) {
    host->AddPage("A", 1, [] { return MakePage("a"); });
    host->AddPage("B", 2, [] { return MakePage("b"); });
    auto* secondOfA = host->GetPage(0)->findChild<QLineEdit*>("a1");
    ASSERT_NE(secondOfA, nullptr);
    secondOfA->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == secondOfA; }));

    QTest::mouseClick(host->tabBar(), Qt::LeftButton, Qt::NoModifier, host->tabBar()->tabRect(1).center());
    EXPECT_EQ(host->GetCurSel(), 1);
    EXPECT_EQ(host->deactivated, 1);
    EXPECT_EQ(host->activated, 1);
    EXPECT_FALSE(host->GetPage(0)->isVisible());
    // The new page starts on its first control.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return QApplication::focusWidget() == host->GetPage(1)->findChild<QLineEdit*>("b0"); }));

    QTest::mouseClick(host->tabBar(), Qt::LeftButton, Qt::NoModifier, host->tabBar()->tabRect(0).center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == secondOfA; }))
        << "the control that had the focus gets it back";
}

TEST_F(TabHostTest, TheHostPassesItsFocusToThePage) {
    auto* other = new QPushButton("elsewhere", &window);
    other->show();
    host->AddPage("A", 1, [] { return MakePage("a"); });
    other->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == other; }));
    host->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return QApplication::focusWidget() == host->GetPage(0)->findChild<QLineEdit*>("a0"); }));
}

TEST(AboutBox, TitleLinesAndOk) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About Sealbench");
    QStringList texts;
    for (QLabel* label : about.findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) texts << label->text();
    }
    EXPECT_TRUE(texts.contains("Vireo Sealbench ver 2.0"));
    EXPECT_TRUE(texts.contains("Supported: VireoB, VireoC"));
    EXPECT_TRUE(texts.contains(QStringLiteral("Program version: sealbench ") + sealbench::kProjectVersion));
    auto* icon = about.findChild<QLabel*>("aboutIcon");
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull()) << "the program icon comes from the resources";

    QPushButton* ok = nullptr;
    for (QPushButton* button : about.findChildren<QPushButton*>()) {
        if (button->text() == "OK") ok = button;
    }
    ASSERT_NE(ok, nullptr);
    about.show();
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

}  // namespace
