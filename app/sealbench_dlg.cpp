#include "app/sealbench_dlg.h"

#include <bootwire/bootwire.h>

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/about_dlg.h"
#include "app/boards_page.h"
#include "app/process_signals.h"
#include "download/page/page_model.h"
#include "ui/page_dialog.h"

namespace {

QString FromStd(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The two template dialogs the window keeps without ever showing them: a text and
// OK and Cancel.
std::unique_ptr<QWidget> MakePlaceholderDialog(const QString& text) {
    auto dialog = std::make_unique<CPageDialog>();
    auto* layout = new QVBoxLayout(dialog.get());
    layout->addWidget(new QLabel(text, dialog.get()));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QPushButton(QStringLiteral("OK"), dialog.get()));
    buttons->addWidget(new QPushButton(QStringLiteral("Cancel"), dialog.get()));
    layout->addLayout(buttons);
    return dialog;
}

}  // namespace

void CPortComboBox::showPopup() {
    if (beforePopup) beforePopup();
    QComboBox::showPopup();
}

void CPortComboBox::keyPressEvent(QKeyEvent* event) {
    QComboBox::keyPressEvent(event);
    if (isEditable() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) event->accept();
}

CSealbenchDlg::CSealbenchDlg(std::vector<ExtraPort> extraPorts, std::vector<ExtraPage> extraPages, QWidget* parent,
                             bool showExtraPages)
    : QDialog(parent),
      extraPorts_(std::move(extraPorts)),
      extraPages_(std::move(extraPages)),
      showExtraPages_(showExtraPages) {
    setWindowTitle(QStringLiteral("Sealbench"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    setWindowIcon(SealbenchIcon());
    ownedPage_ = std::make_unique<CPage_Debug>([this] { return ChosenBoard(); }, session_, this);
    page_ = ownedPage_.get();
    connect(page_, &CPage_Debug::busyChanged, this, &CSealbenchDlg::UpdateChoices);
    // Nothing the library says goes to a console nobody sees: it is a failure's detail.
    bootwire::SetDiagnosticHandler([page = page_](std::string_view line) { page->Diagnostic(line); });
    BuildLayout();
    OnInitDialog();
}

CSealbenchDlg::~CSealbenchDlg() {
    // The runs stop before the board they talk over and the views they report to go.
    StopRuns();
    bootwire::SetDiagnosticHandler({});
    tabHost_->RemoveAllPages();
}

sealbench::BoardLink CSealbenchDlg::ChosenBoard() {
    sealbench::BoardLink board;
    board.usb = connection_.usb;
    board.link = link_.get();
    if (connection_.usb) {
        // After a FLASHING run the board comes back as a new USB device. Called on
        // the page's launcher thread, while the choices that touch the link are locked.
        board.reenumerate = [this] { return ReopenUsb(); };
    } else if (connection_.portIndex < 0) {
        board.link = nullptr;
    }
    return board;
}

sealbench::Result<sealbench::OpenedBoard> CSealbenchDlg::Open(const sealbench::BoardAddress& address, QString* reason) {
    std::string lines;
    sealbench::Result<sealbench::OpenedBoard> opened =
        sealbench::OpenBoardForWindow(address, page_->Processor(), &lines);
    *reason = FromStd(lines);
    return opened;
}

bootwire::Link* CSealbenchDlg::ReopenUsb() {
    link_.reset();  // release the device before it is claimed again
    sealbench::BoardAddress usb = sealbench::UsbBoard();
    usb.firstOfSeveral = true;
    QString reason;
    sealbench::Result<sealbench::OpenedBoard> opened = Open(usb, &reason);
    if (opened.Ok()) {
        link_ = std::move(opened.value.link);
    } else if (!reason.isEmpty()) {
        page_->Diagnostic(reason.toStdString());
    }
    return link_.get();
}

bool CSealbenchDlg::RunInProgress() const { return page_->Busy() || (boards_ != nullptr && boards_->Running()); }

void CSealbenchDlg::UpdateChoices() {
    // A run keeps its board: no choice may close the link under it.
    const bool busy = RunInProgress();
    portList_->setEnabled(!busy && !connection_.usb);
    usbBox_->setEnabled(!busy && !connection_.usb);
    typeList_->setEnabled(!busy);
}

void CSealbenchDlg::StopRuns() {
    if (boards_ != nullptr) boards_->StopAndWait();
    page_->StopAndWait();
}

void CSealbenchDlg::done(int result) {
    if (RunInProgress() && !TerminationRequested()) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Sealbench"),
                        QStringLiteral("A run is in progress.\nStop it and close Sealbench?"),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setObjectName(QStringLiteral("closeDuringRun"));
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes) return;
    }
    StopRuns();
    QDialog::done(result);
}

void CSealbenchDlg::BuildLayout() {
    // Where the platform offers no system menu to append to, the window's own menu
    // carries the same items.
    menuBar_ = new QMenuBar(this);
    QMenu* window = menuBar_->addMenu(QStringLiteral("&Window"));
    windowMenu_ = window;
    window->addAction(QStringLiteral("Mi&nimize"), this, &QWidget::showMinimized);
    window->addAction(QStringLiteral("Ma&ximize"), this, [this] { isMaximized() ? showNormal() : showMaximized(); });
    window->addAction(QStringLiteral("&Close"), this, &QDialog::reject);
    QAction* boards = window->addAction(QStringLiteral("&Boards"), this, &CSealbenchDlg::OpenBoardsPage);
    boards->setObjectName(QStringLiteral("boardsAction"));
    window->addSeparator();
    QAction* fast = window->addAction(QStringLiteral("Fast serial flashing"));
    fast->setObjectName(QStringLiteral("fastFlashingAction"));
    fast->setCheckable(true);
    fast->setChecked(page_->FastSerialFlashing());
    connect(fast, &QAction::toggled, this, [this](bool on) { page_->SetFastSerialFlashing(on); });
    // The rate the advice of a failed fast run points to.
    QMenu* rates = window->addMenu(QStringLiteral("Fast serial flashing rate"));
    rates->setObjectName(QStringLiteral("fastRateMenu"));
    auto* rateGroup = new QActionGroup(rates);
    for (int rate : bootwire::kStreamRates) {
        QAction* item = rates->addAction(QStringLiteral("%1 baud").arg(rate));
        item->setObjectName(QStringLiteral("fastRate%1").arg(rate));
        item->setCheckable(true);
        item->setChecked(rate == page_->FastBaud());
        rateGroup->addAction(item);
        connect(item, &QAction::triggered, this, [this, rate] { page_->SetFastBaud(rate); });
    }
    // A user's flash library may stay silent through a whole chip erase.
    QMenu* timeouts = window->addMenu(QStringLiteral("Flash library status timeout"));
    timeouts->setObjectName(QStringLiteral("statusTimeoutMenu"));
    auto* timeoutGroup = new QActionGroup(timeouts);
    for (int seconds : sealbench::kStatusTimeoutChoices) {
        QAction* item = timeouts->addAction(QString::fromStdString(sealbench::StatusTimeoutCaption(seconds)));
        item->setObjectName(QStringLiteral("statusTimeout%1").arg(seconds));
        item->setCheckable(true);
        item->setChecked(std::chrono::seconds(seconds) == page_->StatusTimeout());
        timeoutGroup->addAction(item);
        connect(item, &QAction::triggered, this,
                [this, seconds] { page_->SetStatusTimeout(std::chrono::seconds(seconds)); });
    }
    window->addSeparator();
    // The built-in flash library's ranges, on the Download page's settings.
    QAction* verify = window->addAction(QStringLiteral("Verify"), this, [this] { page_->Verify(); });
    verify->setObjectName(QStringLiteral("verifyAction"));
    QAction* erase = window->addAction(QStringLiteral("Erase"), this, &CSealbenchDlg::OnErase);
    erase->setObjectName(QStringLiteral("eraseAction"));
    layoutAction_ = window->addAction(QStringLiteral("Flash layout..."), this, &CSealbenchDlg::OnFlashLayout);
    layoutAction_->setObjectName(QStringLiteral("layoutAction"));
    layoutAction_->setCheckable(true);
    window->addSeparator();
    QAction* about = window->addAction(QStringLiteral("&About VireoB_Sealbench..."), this, &CSealbenchDlg::OnAbout);
    about->setObjectName(QStringLiteral("aboutAction"));

    portList_ = new CPortComboBox(this);
    portList_->setObjectName(QStringLiteral("portList"));
    portList_->setMinimumContentsLength(16);
    portList_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    portList_->beforePopup = [this] { RefreshPorts(); };
    // Typed text picks the entry that shows it; any other text is opened as it stands.
    portList_->setEditable(true);
    portList_->setInsertPolicy(QComboBox::NoInsert);
    portList_->setCompleter(nullptr);
    portList_->lineEdit()->setPlaceholderText(QStringLiteral("device or rfc2217://HOST:PORT"));
    typeList_ = new QComboBox(this);
    typeList_->setObjectName(QStringLiteral("typeList"));
    typeList_->addItems({QStringLiteral("VireoB"), QStringLiteral("VireoC_TO1"), QStringLiteral("VireoC_TO2")});
    usbBox_ = new QCheckBox(QStringLiteral("USB"), this);
    usbBox_->setObjectName(QStringLiteral("usbBox"));

    // The dialog's own OK and Cancel exist but are never shown.
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->hide();
    cancel->hide();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* choices = new QHBoxLayout;
    choices->addWidget(new QLabel(QStringLiteral("Serial Port:"), this));
    choices->addWidget(portList_, 2);
    choices->addSpacing(12);
    choices->addWidget(usbBox_);
    choices->addSpacing(12);
    choices->addWidget(new QLabel(QStringLiteral("Type of Vireo:"), this));
    choices->addWidget(typeList_, 1);
    choices->addStretch(1);

    tabHost_ = new CTabPageCtrl(this);
    tabHost_->setObjectName(QStringLiteral("tabHost"));
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar_);
    layout->addLayout(choices);
    layout->addWidget(tabHost_, 1);
    resize(760, 640);

    connect(portList_, &QComboBox::activated, this, &CSealbenchDlg::OnSerialPortChanged);
    connect(portList_->lineEdit(), &QLineEdit::returnPressed, this, &CSealbenchDlg::OnPortTyped);
    connect(typeList_, &QComboBox::activated, this, &CSealbenchDlg::OnTypeChanged);
    connect(usbBox_, &QCheckBox::clicked, this, &CSealbenchDlg::OnUsbClicked);
}

void CSealbenchDlg::OnInitDialog() {
    RefreshPorts();
    portList_->setCurrentIndex(-1);  // neither list shows a choice before the user makes one
    typeList_->setCurrentIndex(-1);
    connection_.usb = false;

    tabHost_->AddPage(QStringLiteral("Download"), 0,
                      [this]() -> std::unique_ptr<QWidget> { return std::move(ownedPage_); });
    for (size_t i = 0; i < extraPages_.size(); ++i) {
        if (showExtraPages_)
            tabHost_->AddPage(extraPages_[i].label, static_cast<int>(i) + 1, extraPages_[i].create);
        else
            unshownPages_.push_back(extraPages_[i].create());
    }
    if (!showExtraPages_) {
        unshownPages_.push_back(MakePlaceholderDialog(QStringLiteral("Image Combine")));
        unshownPages_.push_back(MakePlaceholderDialog(QStringLiteral("Debug")));
    }
    page_->InitialState();

    // A board on USB at start-up makes USB the channel; none is no message.
    connection_.usb = ReopenUsb() != nullptr;
    if (connection_.usb) {
        portList_->setEnabled(false);
        usbBox_->setEnabled(false);
        usbBox_->setChecked(true);
    }
    session_.bannerPending = true;
}

void CSealbenchDlg::RefreshPorts() {
    const QString chosen = portList_->currentIndex() >= 0 ? portList_->currentData().toString() : QString();
    const bool hadChoice = portList_->currentIndex() >= 0;

    std::vector<ExtraPort> entries = extraPorts_;
    entries.insert(entries.end(), typedPorts_.begin(), typedPorts_.end());
    for (const bootwire::PortInfo& port : bootwire::ListSerialPorts()) {
        const std::string label = port.stableName.empty() ? port.name : port.name + " (" + port.stableName + ")";
        entries.push_back({QString::fromStdString(label), QString::fromStdString(port.name)});
    }
    std::sort(entries.begin(), entries.end(), [](const ExtraPort& a, const ExtraPort& b) { return a.label < b.label; });

    const QSignalBlocker quiet(portList_);
    portList_->clear();
    portList_->addItem(QString(), QString());  // the empty entry names no port
    for (const ExtraPort& entry : entries) portList_->addItem(entry.label, entry.path);
    if (hadChoice) {
        const int again = portList_->findData(chosen);
        portList_->setCurrentIndex(again >= 0 ? again : 0);
        // The chosen port stays the one runs use; its index follows it in the new list.
        if (again >= 0 && connection_.portIndex > 0) connection_.portIndex = again;
    } else {
        portList_->setCurrentIndex(-1);
    }
}

void CSealbenchDlg::SelectPortEntry(int index) {
    const QSignalBlocker quiet(portList_);
    portList_->setCurrentIndex(index);
}

bool CSealbenchDlg::OnSerialPortChanged(int index) {
    if (index < 0) {
        SelectPortEntry(0);
        return false;
    }
    const sealbench::PortChoice choice = sealbench::ChoosePort(index, page_->Processor());
    if (!choice.open) {
        if (!choice.message.empty()) ShowMessage(QString::fromStdString(choice.message));
        SelectPortEntry(0);
        return false;
    }
    connection_.portIndex = index;
    // The port opened before is let go first: it is exclusive, and may be the one chosen again.
    link_.reset();
    // On this platform the entry names its device; the library takes the path as it is.
    const std::string port = portList_->itemData(index).toString().toStdString();
    const QString text = portList_->itemText(index);
    QString reason;
    sealbench::Result<sealbench::OpenedBoard> opened = Open(sealbench::SerialBoard(port), &reason);
    if (!opened.Ok()) {
        ShowMessage(QStringLiteral("Cannot Open %1").arg(text) + (reason.isEmpty() ? QString() : "\n" + reason));
        SelectPortEntry(0);
        return false;
    }
    link_ = std::move(opened.value.link);
    if (!opened.value.notice.empty()) page_->Diagnostic(opened.value.notice);
    return true;
}

void CSealbenchDlg::OnPortTyped() {
    const QString text = portList_->lineEdit()->text().trimmed();
    // Text that an entry shows was chosen by the list itself (activated); empty text names no port.
    if (text.isEmpty() || portList_->findText(text) >= 0) return;
    const int index = portList_->findData(text);
    if (index >= 0) {
        SelectPortEntry(index);
        OnSerialPortChanged(index);
        return;
    }
    typedPorts_.push_back({text, text});
    RefreshPorts();
    const int added = portList_->findData(text);
    SelectPortEntry(added);
    if (!OnSerialPortChanged(added)) {
        // A port that could not be opened does not stay in the list.
        typedPorts_.pop_back();
        RefreshPorts();
    }
}

void CSealbenchDlg::OnTypeChanged(int index) {
    if (index < 0) return;
    page_->SelectProcessor(index);
}

void CSealbenchDlg::OnUsbClicked() {
    sealbench::BoardAddress usb = sealbench::UsbBoard();
    usb.firstOfSeveral = true;
    QString reason;
    sealbench::Result<sealbench::OpenedBoard> opened = Open(usb, &reason);
    connection_.usb = opened.Ok();
    if (connection_.usb) {
        // From here on the channel is USB until the program ends.
        link_ = std::move(opened.value.link);
        if (!opened.value.notice.empty()) page_->Diagnostic(opened.value.notice);
        portList_->setEnabled(false);
        usbBox_->setEnabled(false);
        usbBox_->setChecked(true);
    } else {
        usbBox_->setChecked(false);
        ShowMessage(FromStd(sealbench::kNoUsbMessage) + (reason.isEmpty() ? QString() : "\n" + reason));
    }
}

void CSealbenchDlg::OpenBoardsPage() {
    constexpr int kBoardsPageId = 100;
    int index = tabHost_->GetPageIndex(kBoardsPageId);
    if (index < 0) {
        index = tabHost_->AddPage(QStringLiteral("Boards"), kBoardsPageId, [this]() -> std::unique_ptr<QWidget> {
            CBoardsPage::WindowSide side;
            side.settings = [this] { return page_->CurrentSettings(); };
            side.downloadBusy = [this] { return page_->Busy(); };
            side.release = [this](const std::vector<sealbench::BoardAddress>& boards) { ReleaseForBoards(boards); };
            side.restore = [this] { RestoreAfterBoards(); };
            auto boards = std::make_unique<CBoardsPage>(std::move(side), extraPorts_);
            boards->setObjectName(QStringLiteral("boardsPage"));
            boards_ = boards.get();
            connect(boards_, &CBoardsPage::runningChanged, this, &CSealbenchDlg::UpdateChoices);
            return boards;
        });
    }
    tabHost_->ActivatePage(index);
}

void CSealbenchDlg::ReleaseForBoards(const std::vector<sealbench::BoardAddress>& boards) {
    // The window keeps its chosen port or USB boot device open; a board of the run
    // may be that one, and both are exclusive.
    if (!link_) return;
    for (const sealbench::BoardAddress& board : boards) {
        if (board.usb && connection_.usb) {
            link_.reset();
            // The Download page finds the device again before its next run.
            session_.flashingDownloadDone = true;
            return;
        }
        if (!board.usb && !connection_.usb && link_->Describe() == board.port) {
            releasedPort_ = board.port;
            link_.reset();
            return;
        }
    }
}

void CSealbenchDlg::RestoreAfterBoards() {
    if (releasedPort_.empty()) return;
    QString reason;
    sealbench::Result<sealbench::OpenedBoard> opened = Open(sealbench::SerialBoard(releasedPort_), &reason);
    if (opened.Ok()) link_ = std::move(opened.value.link);
    releasedPort_.clear();
}

void CSealbenchDlg::AddVirtualBoardReset(std::function<bool()> reset) {
    QAction* action = new QAction(QStringLiteral("&Reset virtual board"), windowMenu_);
    action->setObjectName(QStringLiteral("resetBoardAction"));
    // With the window's own commands, before the separator that leads to the about box.
    QAction* before = nullptr;
    for (QAction* item : windowMenu_->actions()) {
        if (item->isSeparator()) {
            before = item;
            break;
        }
    }
    windowMenu_->insertAction(before, action);
    connect(action, &QAction::triggered, this, [this, reset = std::move(reset)] {
        if (!reset()) {
            ShowMessage(QStringLiteral("The virtual board is not running."));
            return;
        }
        // The board comes back as a new USB device: the next run finds it again first.
        session_.flashingDownloadDone = true;
    });
}

void CSealbenchDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CSealbenchDlg::OnErase() {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Sealbench"), QString::fromUtf8(sealbench::kEraseQuestion),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("eraseConfirm"));
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() == QMessageBox::Yes) page_->Erase();
}

void CSealbenchDlg::OnFlashLayout() {
    // Checked means a layout is chosen; the click that unchecks it drops it.
    QString path = layoutAction_->isChecked() ? page_->ChooseLayoutFile() : QString();
    page_->SetLayout(path.toStdString());
    layoutAction_->setChecked(!path.isEmpty());
    layoutAction_->setText(QString::fromStdString(sealbench::LayoutCaption(path.toStdString())));
}

void CSealbenchDlg::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Sealbench"), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("sealbenchMessage"));
    box.exec();
}

void CSealbenchDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Esc are the dialog's OK and Cancel: both close the window. Inside the
    // page and the port entry they never get here.
    if (!event->modifiers() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
