#include "app/boards_page.h"

#include <bootwire/bootwire.h>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/log_dialog.h"
#include "app/station_panel.h"
#include "common/version.h"
#include "download/board/board_row.h"
#include "download/plan/run_plan.h"
#include "station/window_station.h"

namespace {

constexpr int kRefreshMs = 200;
enum Column { kBoard, kProgress, kPhase, kBytes, kRate, kResult, kLog, kColumns };
constexpr int kAddressRole = Qt::UserRole;
constexpr int kUsbRole = Qt::UserRole + 1;
constexpr int kNameRole = Qt::UserRole + 2;

QString FromStd(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CBoardsPage::CBoardsPage(WindowSide window, std::vector<CSealbenchDlg::ExtraPort> virtualBoards, QWidget* parent)
    : QWidget(parent), window_(std::move(window)), virtualBoards_(std::move(virtualBoards)) {
    candidates_ = new QListWidget(this);
    candidates_->setObjectName(QStringLiteral("boardCandidates"));
    refreshButton_ = new QPushButton(QStringLiteral("Refresh"), this);
    refreshButton_->setObjectName(QStringLiteral("refreshBoards"));
    flashAllButton_ = new QPushButton(QStringLiteral("Flash all"), this);
    flashAllButton_->setObjectName(QStringLiteral("flashAll"));
    stopButton_ = new QPushButton(QStringLiteral("Stop"), this);
    stopButton_->setObjectName(QStringLiteral("stopBoards"));
    stopButton_->setEnabled(false);
    stationButton_ = new QPushButton(QStringLiteral("Run as station"), this);
    stationButton_->setObjectName(QStringLiteral("startStation"));
    stationButton_->setToolTip(
        QStringLiteral("Make the ticked places a station's slots: each board that arrives in one is flashed at once"));
    identityEdit_ = new QLineEdit(this);
    identityEdit_->setObjectName(QStringLiteral("stationIdentity"));
    identityEdit_->setPlaceholderText(QStringLiteral("identity ADDRESS:LENGTH (optional)"));
    station_ = new CStationPanel(this);
    station_->setObjectName(QStringLiteral("stationPanel"));
    station_->hide();
    messageLabel_ = new QLabel(this);
    messageLabel_->setObjectName(QStringLiteral("boardsMessage"));
    messageLabel_->setWordWrap(true);

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("boardTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Board"), QStringLiteral("Progress"), QStringLiteral("Phase"),
                                       QStringLiteral("Bytes"), QStringLiteral("Rate"), QStringLiteral("Result"),
                                       QString()});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->horizontalHeader()->setSectionResizeMode(kResult, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(kBoard, QHeaderView::ResizeToContents);

    auto* listRow = new QHBoxLayout;
    listRow->addWidget(candidates_, 1);
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(refreshButton_);
    listButtons->addStretch(1);
    listRow->addLayout(listButtons);
    auto* actions = new QHBoxLayout;
    actions->addWidget(new QLabel(QStringLiteral("Runs the Download page's settings on every ticked board."), this), 1);
    actions->addWidget(stopButton_);
    actions->addWidget(identityEdit_);
    actions->addWidget(stationButton_);
    actions->addWidget(flashAllButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Ports and USB boot devices:"), this));
    layout->addLayout(listRow, 1);
    layout->addLayout(actions);
    layout->addWidget(messageLabel_);
    layout->addWidget(table_, 2);
    layout->addWidget(station_, 2);

    connect(refreshButton_, &QPushButton::clicked, this, &CBoardsPage::RefreshBoards);
    connect(flashAllButton_, &QPushButton::clicked, this, &CBoardsPage::OnFlashAll);
    connect(stopButton_, &QPushButton::clicked, this, &CBoardsPage::OnStop);
    connect(stationButton_, &QPushButton::clicked, this, &CBoardsPage::OnStation);
    connect(station_, &CStationPanel::ended, this, [this] { SetRunning(false); });
    connect(&timer_, &QTimer::timeout, this, &CBoardsPage::UpdateRows);
    RefreshBoards();
}

CBoardsPage::~CBoardsPage() { StopAndWait(); }

bool CBoardsPage::Running() const { return (!runs_.empty() && timer_.isActive()) || station_->Running(); }

void CBoardsPage::StopAndWait() {
    // Each board stops and its threads end before the views they report to go.
    for (auto& run : runs_) run->Stop();
    runs_.clear();
    station_->StopAndWait();
    timer_.stop();
    if (released_ && window_.restore) window_.restore();
    released_ = false;
}

void CBoardsPage::RefreshBoards() {
    QSet<QString> ticked;
    for (int i = 0; i < candidates_->count(); ++i) {
        if (candidates_->item(i)->checkState() == Qt::Checked)
            ticked << candidates_->item(i)->data(kNameRole).toString();
    }
    candidates_->clear();
    auto add = [&](const QString& label, const QString& name, bool usb, const QString& address) {
        auto* item = new QListWidgetItem(label, candidates_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(ticked.contains(name) ? Qt::Checked : Qt::Unchecked);
        item->setData(kNameRole, name);
        item->setData(kUsbRole, usb);
        item->setData(kAddressRole, address);
    };
    for (const CSealbenchDlg::ExtraPort& board : virtualBoards_) {
        add(QStringLiteral("%1  %2").arg(board.path, board.label), board.path, false, board.path);
    }
    for (const bootwire::PortInfo& port : bootwire::ListPorts()) {
        const bool usb = port.kind == bootwire::PortInfo::Kind::UsbBoot;
        const QString name = FromStd(usb ? sealbench::UsbBoardName(port.name) : port.name);
        QString details = FromStd(port.description);
        if (!port.usbSerial.empty()) details += QStringLiteral(", serial ") + FromStd(port.usbSerial);
        if (!port.stableName.empty()) details += QStringLiteral(" (%1)").arg(FromStd(port.stableName));
        add(QStringLiteral("%1  %2").arg(name, details), name, usb, FromStd(port.name));
    }
}

void CBoardsPage::ShowMessage(const QString& text) { messageLabel_->setText(text); }

void CBoardsPage::OnFlashAll() {
    if (Running()) return;
    if (window_.downloadBusy && window_.downloadBusy()) {
        ShowMessage(QStringLiteral("The Download page is running; wait for it to end."));
        return;
    }
    const sealbench::RunSettings settings = window_.settings();
    const std::vector<sealbench::BoardAddress> boards = TickedBoards();
    if (boards.empty()) {
        ShowMessage(QStringLiteral("Tick the boards to flash first."));
        return;
    }
    ShowMessage({});
    station_->hide();
    table_->show();
    runs_.clear();
    logs_.clear();
    if (window_.release) window_.release(boards);
    released_ = true;
    table_->setRowCount(static_cast<int>(boards.size()));
    for (size_t i = 0; i < boards.size(); ++i) {
        const int row = static_cast<int>(i);
        logs_.push_back(std::make_unique<sealbench::BoardLog>());
        runs_.push_back(std::make_unique<sealbench::BoardRun>(boards[i], *logs_.back(), true));
        table_->setItem(row, kBoard, new QTableWidgetItem(FromStd(boards[i].name)));
        auto* bar = new QProgressBar(table_);
        bar->setObjectName(QStringLiteral("boardProgress"));
        table_->setCellWidget(row, kProgress, bar);
        for (int column : {kPhase, kBytes, kRate, kResult}) table_->setItem(row, column, new QTableWidgetItem);
        auto* logButton = new QPushButton(QStringLiteral("Log"), table_);
        logButton->setObjectName(QStringLiteral("boardLog"));
        connect(logButton, &QPushButton::clicked, this, [this, row] { ShowLog(row); });
        table_->setCellWidget(row, kLog, logButton);
    }
    for (auto& run : runs_) run->Start(settings, 0);
    timer_.start(kRefreshMs);
    SetRunning(true);
    UpdateRows();
}

std::vector<sealbench::BoardAddress> CBoardsPage::TickedBoards() const {
    std::vector<sealbench::BoardAddress> boards;
    for (int i = 0; i < candidates_->count(); ++i) {
        const QListWidgetItem* item = candidates_->item(i);
        if (item->checkState() != Qt::Checked) continue;
        boards.push_back({item->data(kNameRole).toString().toStdString(), item->data(kUsbRole).toBool(),
                          item->data(kAddressRole).toString().toStdString()});
    }
    return boards;
}

void CBoardsPage::OnStation() {
    if (Running()) return;
    if (window_.downloadBusy && window_.downloadBusy()) {
        ShowMessage(QStringLiteral("The Download page is running; wait for it to end."));
        return;
    }
    const std::vector<sealbench::BoardAddress> boards = TickedBoards();
    sealbench::Result<sealbench::StationSettings> made =
        sealbench::WindowStation(window_.settings(), boards, identityEdit_->text().toStdString());
    if (!made.Ok()) {
        ShowMessage(FromStd(made.outcome.message));
        return;
    }
    sealbench::StationSettings settings = std::move(made.value);
    settings.toolVersion = sealbench::kProjectVersion;
    if (window_.release) window_.release(boards);
    released_ = true;
    if (const QString refused = station_->Start(std::move(settings)); !refused.isEmpty()) {
        if (window_.restore) window_.restore();
        released_ = false;
        ShowMessage(refused);
        return;
    }
    ShowMessage({});
    table_->hide();
    station_->show();
    SetRunning(true);
}

void CBoardsPage::SetRunning(bool running) {
    if (!running && released_ && window_.restore) window_.restore();
    if (!running) released_ = false;
    flashAllButton_->setEnabled(!running);
    stationButton_->setEnabled(!running);
    identityEdit_->setEnabled(!running);
    refreshButton_->setEnabled(!running);
    stopButton_->setEnabled(running);
    emit runningChanged(running);
    if (!running) emit allEnded();
}

void CBoardsPage::OnStop() {
    for (auto& run : runs_) run->Stop();
    station_->Stop();
}

void CBoardsPage::UpdateRows() {
    bool everyEnded = true;
    for (size_t i = 0; i < runs_.size(); ++i) {
        const int row = static_cast<int>(i);
        const sealbench::BoardStatus status = runs_[i]->Status();
        everyEnded = everyEnded && sealbench::BoardEnded(status.state);
        const sealbench::BoardRow shown = sealbench::RowOf(status);
        if (auto* bar = qobject_cast<QProgressBar*>(table_->cellWidget(row, kProgress))) {
            // An empty range would make the bar a busy indicator.
            bar->setRange(0, sealbench::BoardRow::kBarRange);
            bar->setValue(shown.bar);
            // A board that failed must not look done: the bar keeps what it reached, in red.
            if (shown.failed != (bar->format() != QStringLiteral("%p%"))) {
                QPalette palette = bar->style()->standardPalette();
                if (shown.failed) palette.setColor(QPalette::Highlight, QColor(192, 0, 0));
                bar->setPalette(palette);
                bar->setFormat(shown.failed ? QStringLiteral("failed at %p%") : QStringLiteral("%p%"));
            }
        }
        table_->item(row, kPhase)->setText(FromStd(shown.phase));
        table_->item(row, kBytes)->setText(FromStd(shown.bytes));
        table_->item(row, kRate)->setText(FromStd(shown.rate));
        QTableWidgetItem* result = table_->item(row, kResult);
        if (!shown.result.empty()) {
            result->setText(FromStd(shown.result));
            result->setForeground(shown.failed ? QColor(192, 0, 0) : QColor(0, 128, 0));
            if (shown.failed) result->setToolTip(FromStd(status.reason));
        }
    }
    if (!everyEnded) return;
    timer_.stop();
    SetRunning(false);
}

void CBoardsPage::ShowLog(int row) {
    if (row < 0 || static_cast<size_t>(row) >= logs_.size()) return;
    ShowLogDialog(this, table_->item(row, kBoard)->text(), FromStd(logs_[static_cast<size_t>(row)]->Text()),
                  QStringLiteral("boardLog"));
}
