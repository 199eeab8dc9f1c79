#include "app/sealbench_dlg.h"

#include <bootwire/bootwire.h>

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
#include "ui/page_dialog.h"

namespace {

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

CSealbenchDlg::CSealbenchDlg(BootwireClass& bootwire, WindowLinks links, std::vector<ExtraPort> extraPorts,
                             std::vector<ExtraPage> extraPages, QWidget* parent, bool showExtraPages)
    : QDialog(parent),
      bootwire_(bootwire),
      links_(links),
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
    BuildLayout();
    OnInitDialog();
}

CSealbenchDlg::~CSealbenchDlg() { tabHost_->RemoveAllPages(); }

sealbench::BoardLink CSealbenchDlg::ChosenBoard() {
    sealbench::BoardLink board;
    board.usb = connection_.usb;
    if (connection_.usb) {
        board.link = links_.usb;
        // After a FLASHING run the board comes back as a new USB device.
        board.reenumerate = [this] { bootwire_.Vireo_USBEnum(); };
    } else if (connection_.portIndex >= 0) {
        board.link = links_.serial;
    }
    return board;
}

void CSealbenchDlg::BuildLayout() {
    // Where the platform offers no system menu to append to, the window's own menu
    // carries the same items.
    menuBar_ = new QMenuBar(this);
    QMenu* window = menuBar_->addMenu(QStringLiteral("&Window"));
    window->addAction(QStringLiteral("Mi&nimize"), this, &QWidget::showMinimized);
    window->addAction(QStringLiteral("Ma&ximize"), this, [this] { isMaximized() ? showNormal() : showMaximized(); });
    window->addAction(QStringLiteral("&Close"), this, &QDialog::reject);
    QAction* boards = window->addAction(QStringLiteral("&Boards"), this, &CSealbenchDlg::OpenBoardsPage);
    boards->setObjectName(QStringLiteral("boardsAction"));
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

    connection_.usb = bootwire_.Vireo_USBEnum() != 0;
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
    // On this platform the entry names its device; the library takes the path as it is.
    QByteArray port = portList_->itemData(index).toString().toLocal8Bit();
    const QString text = portList_->itemText(index);
    if (bootwire_.Vireo_InitComPort(port.data(), choice.lineMode) == 0) {
        ShowMessage(QStringLiteral("Cannot Open %1").arg(text));
        SelectPortEntry(0);
        return false;
    }
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
    connection_.usb = bootwire_.Vireo_USBEnum() != 0;
    if (connection_.usb) {
        // From here on the channel is USB until the program ends.
        portList_->setEnabled(false);
        usbBox_->setEnabled(false);
        usbBox_->setChecked(true);
    } else {
        usbBox_->setChecked(false);
        ShowMessage(QString::fromUtf8(sealbench::kNoUsbMessage.data(),
                                      static_cast<qsizetype>(sealbench::kNoUsbMessage.size())));
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
            side.links = links_;
            side.session = &session_;
            auto boards = std::make_unique<CBoardsPage>(std::move(side), extraPorts_);
            boards->setObjectName(QStringLiteral("boardsPage"));
            return boards;
        });
    }
    tabHost_->ActivatePage(index);
}

void CSealbenchDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
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
