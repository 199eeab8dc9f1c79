// A port typed into "Serial Port:": an rfc2217:// address of the real ser2net in
// front of the real vireo-sim is opened on Enter and runs like a listed port; one
// that cannot be opened says so and leaves the list as it was.
#include <bootwire/bootwire.h>
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/sealbench_dlg.h"
#include "gui_test_util.h"
#include "ser2net_process.h"
#include "sim_process.h"

using gui_test::Choose;
using gui_test::LogLines;
using gui_test::NextModal;

namespace {

class NetworkPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        qunsetenv("BOOTWIRE_USB_SIM");
        window = std::make_unique<CSealbenchDlg>();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ports = window->findChild<QComboBox*>("portList");
        ASSERT_TRUE(ports && ports->lineEdit());
        Choose(window->findChild<QComboBox*>("typeList"), 2);  // VireoC_TO2
    }

    // Types the text into the port entry and presses Enter; returns the message box's text, if any.
    QString Type(const QString& text) {
        QString message;
        NextModal<QMessageBox> answer([&](QMessageBox* box) {
            message = box->text();
            box->accept();
        });
        ports->lineEdit()->setFocus();
        ports->lineEdit()->selectAll();
        QTest::keyClicks(ports->lineEdit(), text);
        QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
        return message;
    }

    std::unique_ptr<CSealbenchDlg> window;
    QComboBox* ports = nullptr;
};

TEST_F(NetworkPortTest, TypedPortThatCannotBeOpened) {
    sealtest::RefusingPort nobody;
    const QString url = QStringLiteral("rfc2217://127.0.0.1:%1").arg(nobody.port());
    const int before = ports->count();
    // The system's message, then why on the next line.
    const QStringList lines = Type(url).split('\n');
    EXPECT_EQ(lines[0], "Cannot Open " + url);
    EXPECT_GE(lines.size(), 2);
    EXPECT_TRUE(window->isVisible());  // Enter in the entry confirms the port, it does not close the window
    EXPECT_EQ(ports->count(), before);
    EXPECT_EQ(ports->findText(url), -1);
    EXPECT_EQ(ports->currentIndex(), 0);
}

TEST_F(NetworkPortTest, TypedRfc2217PortRunsLikeAListedOne) {
    if (sealtest::Ser2netProcess::Executable().empty()) {
        GTEST_SKIP() << "ser2net is not installed; scripts/install-deps.sh installs it";
    }
    sealtest::SimProcess sim("VireoC_TO2");
    ASSERT_TRUE(sim.ok()) << sim.error();
    sealtest::Ser2netProcess server(sim.serial(), sealtest::Ser2netProcess::Kind::Rfc2217);
    ASSERT_TRUE(server.ok()) << server.error();
    const QString url = QString::fromStdString(server.Url());

    EXPECT_EQ(Type(url), QString());
    EXPECT_TRUE(window->isVisible());
    const int entry = ports->findText(url);
    ASSERT_GT(entry, 0);
    EXPECT_EQ(ports->currentIndex(), entry);
    EXPECT_EQ(window->Connection().portIndex, entry);
    // It stays in the list when the list looks for ports again.
    window->RefreshPorts();
    EXPECT_EQ(ports->currentText(), url);

    QTemporaryDir folder;
    const QString image = folder.filePath("image.bin");
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(20000, '\xFF'));
    file.close();
    CPage_Debug* page = window->DownloadPage();
    page->findChild<QLineEdit*>("imageEdit")->setText(image);
    QTest::mouseClick(page->findChild<QPushButton*>("executeButton"), Qt::LeftButton);
    ASSERT_TRUE(gui_test::WaitFor([&] { return !page->Busy(); }, gui_test::kRunTimeoutMs));
    QTest::qWait(20);
    EXPECT_EQ(LogLines(page->findChild<QPlainTextEdit*>("statusLog")),
              (QStringList{"VireoC Sealbench ver 1.3s", "UART is using",
                           "Downloading Complete - Program executing at 0x80004000"}));
}

}  // namespace
