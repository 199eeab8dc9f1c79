// Helpers for driving the real window in tests: answering modal dialogs as they
// open, picking list entries, reading the status log.
#pragma once

#include <bootwire/bootwire.h>

#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/sealbench_dlg.h"

namespace gui_test {

// Watches for the next modal dialog of class T and hands it to `handle`, which must
// close it. Polls from the event loop, so it also works inside the dialog's exec().
template <class T>
class NextModal {
public:
    explicit NextModal(std::function<void(T*)> handle) : handle_(std::move(handle)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
                timer_.stop();
                seen_ = true;
                handle_(dialog);
            }
        });
        timer_.start(5);
    }
    bool Seen() const { return seen_; }

private:
    std::function<void(T*)> handle_;
    QTimer timer_;
    bool seen_ = false;
};

// Picks a list entry as a click on it does.
inline void Choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

inline QStringList LogLines(const QPlainTextEdit* log) {
    const QString text = log->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// Generous: the machine running the tests may be busy.
inline constexpr int kRunTimeoutMs = 120000;

inline bool WaitFor(const std::function<bool()>& done, int ms = 30000) { return QTest::qWaitFor(done, ms); }

}  // namespace gui_test
