// CStationPanel: the Boards page in station mode. One tile per slot shows the
// board in it (its identity), its stage and progress, and the last board's result;
// a slot whose last board failed says why with one click ("Why?": the reason and
// that board's status log). Above the tiles, the line's counts and units per hour.
//
// The panel owns the sealbench::Station, which decides everything; a timer on the
// GUI thread reads the station's snapshot into the tiles, so widgets are touched on
// the GUI thread only.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "station/station.h"

class QFrame;
class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;

class CStationPanel : public QWidget {
    Q_OBJECT
public:
    explicit CStationPanel(QWidget* parent = nullptr);
    // Stops the station and waits for its slots.
    ~CStationPanel() override;

    // Starts a station with `settings`; the refusal, in the run log's words, when it cannot start.
    QString Start(sealbench::StationSettings settings);
    // Ends the station: a board in progress fails as stopped; ended() follows.
    void Stop();
    void StopAndWait();
    bool Running() const { return station_ != nullptr && timer_.isActive(); }

signals:
    // Every slot of the station has ended.
    void ended();

private:
    struct Tile {
        QFrame* frame = nullptr;
        QLabel* place = nullptr;
        QLabel* identity = nullptr;
        QLabel* stage = nullptr;
        QProgressBar* bar = nullptr;
        QLabel* result = nullptr;
        QPushButton* why = nullptr;
    };
    // What the station tells of each board as it ends: the tiles read the snapshot instead.
    class Quiet final : public sealbench::StationView {
        void BoardEnded(const sealbench::BoardRecord&, const std::string&) override {}
    };

    void Refresh();
    void ShowWhy(size_t slot);

    Quiet quiet_;
    std::unique_ptr<sealbench::Station> station_;
    QTimer timer_;
    QLabel* counts_ = nullptr;
    QGridLayout* grid_ = nullptr;
    std::vector<Tile> tiles_;
};
