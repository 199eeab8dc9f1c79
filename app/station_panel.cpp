#include "app/station_panel.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/log_dialog.h"
#include "station/window_station.h"

namespace {

constexpr int kRefreshMs = 200;
constexpr int kColumns = 4;
constexpr int kBarSteps = 1000;

QString FromStd(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CStationPanel::CStationPanel(QWidget* parent) : QWidget(parent) {
    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("stationCounts"));
    grid_ = new QGridLayout;
    for (int column = 0; column < kColumns; ++column) grid_->setColumnStretch(column, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(counts_);
    layout->addLayout(grid_);
    layout->addStretch(1);
    connect(&timer_, &QTimer::timeout, this, &CStationPanel::Refresh);
}

CStationPanel::~CStationPanel() { StopAndWait(); }

void CStationPanel::StopAndWait() {
    timer_.stop();
    station_.reset();  // stops every slot and joins their threads
}

void CStationPanel::Stop() {
    if (station_) station_->Stop();
}

QString CStationPanel::Start(sealbench::StationSettings settings) {
    if (Running()) return {};
    StopAndWait();
    const std::vector<sealbench::SlotPlace> places = settings.places;
    sealbench::Result<std::unique_ptr<sealbench::Station>> created =
        sealbench::Station::Create(std::move(settings), quiet_);
    if (!created.Ok()) {
        const sealbench::Outcome& refusal = created.outcome;
        return FromStd(refusal.message) + (refusal.detail.empty() ? QString() : "\n" + FromStd(refusal.detail));
    }
    for (Tile& tile : tiles_) delete tile.frame;
    tiles_.clear();
    for (size_t i = 0; i < places.size(); ++i) {
        Tile tile;
        tile.frame = new QFrame(this);
        tile.frame->setObjectName(QStringLiteral("stationTile"));
        tile.frame->setFrameShape(QFrame::StyledPanel);
        tile.place = new QLabel(QStringLiteral("<b>%1</b>").arg(FromStd(places[i].text).toHtmlEscaped()), tile.frame);
        // A long path must not widen its column: the tiles stay one size, the path its tooltip.
        tile.place->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        tile.place->setToolTip(FromStd(places[i].text));
        tile.identity = new QLabel(tile.frame);
        tile.identity->setObjectName(QStringLiteral("tileIdentity"));
        tile.stage = new QLabel(tile.frame);
        tile.stage->setObjectName(QStringLiteral("tileStage"));
        tile.bar = new QProgressBar(tile.frame);
        tile.bar->setRange(0, kBarSteps);
        tile.bar->setTextVisible(false);
        tile.result = new QLabel(tile.frame);
        tile.result->setObjectName(QStringLiteral("tileResult"));
        tile.why = new QPushButton(QStringLiteral("Why?"), tile.frame);
        tile.why->setObjectName(QStringLiteral("tileWhy"));
        tile.why->setEnabled(false);
        connect(tile.why, &QPushButton::clicked, this, [this, i] { ShowWhy(i); });
        auto* column = new QVBoxLayout(tile.frame);
        for (QWidget* widget : {static_cast<QWidget*>(tile.place), static_cast<QWidget*>(tile.identity),
                                static_cast<QWidget*>(tile.stage), static_cast<QWidget*>(tile.bar)})
            column->addWidget(widget);
        auto* last = new QHBoxLayout;
        last->addWidget(tile.result, 1);
        last->addWidget(tile.why);
        column->addLayout(last);
        grid_->addWidget(tile.frame, static_cast<int>(i) / kColumns, static_cast<int>(i) % kColumns);
        tiles_.push_back(tile);
    }
    station_ = std::move(created.value);
    station_->Start();
    timer_.start(kRefreshMs);
    Refresh();
    return {};
}

void CStationPanel::Refresh() {
    if (!station_) return;
    const sealbench::StationSnapshot snapshot = station_->Snapshot();
    counts_->setText(FromStd(station_->Figures().CountsLine(station_->Running())));
    for (size_t i = 0; i < tiles_.size() && i < snapshot.states.size(); ++i) {
        const sealbench::SlotStatus& slot = snapshot.states[i];
        Tile& tile = tiles_[i];
        tile.identity->setText(slot.identity.empty() ? QString()
                                                     : QStringLiteral("identity: ") + FromStd(slot.identity));
        tile.stage->setText(FromStd(sealbench::StageText(slot)));
        tile.stage->setToolTip(FromStd(slot.look));
        const bool flashing = slot.stage == sealbench::SlotStage::Flashing;
        const bool doneWell = slot.stage == sealbench::SlotStage::Remove && slot.lastOk;
        tile.bar->setValue(doneWell ? kBarSteps : flashing ? static_cast<int>(slot.fraction * kBarSteps) : 0);
        if (slot.hasLast) {
            tile.result->setText(FromStd(sealbench::SlotResultText(slot)));
            tile.result->setStyleSheet(slot.lastOk ? QStringLiteral("color: #008000")
                                                   : QStringLiteral("color: #c00000"));
            tile.result->setToolTip(FromStd(slot.lastReason));
        }
        tile.why->setEnabled(slot.hasLast && !slot.lastOk);
    }
    if (station_->Wait(std::chrono::milliseconds(0))) {
        timer_.stop();
        emit ended();
    }
}

void CStationPanel::ShowWhy(size_t slot) {
    if (!station_ || slot >= tiles_.size()) return;
    const sealbench::StationSnapshot snapshot = station_->Snapshot();
    const sealbench::SlotStatus& shown = snapshot.states[slot];
    ShowLogDialog(this, FromStd(shown.place), FromStd(sealbench::SlotWhyText(shown, station_->SlotLog(slot))),
                  QStringLiteral("tileWhy"));
}
