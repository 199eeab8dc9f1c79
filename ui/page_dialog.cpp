#include "ui/page_dialog.h"

#include <QKeyEvent>

CPageDialog::CPageDialog(QWidget* parent) : QDialog(parent) {
    // A page lives inside the tab host, never as a window of its own.
    setWindowFlags(Qt::Widget);
}

CPageDialog::~CPageDialog() = default;

void CPageDialog::accept() {}

void CPageDialog::reject() {}

void CPageDialog::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Escape || ((key == Qt::Key_Return || key == Qt::Key_Enter) && !event->modifiers())) {
        // A focused push button still takes Enter as its click (QDialog does that);
        // with no default button the key simply ends here.
        QDialog::keyPressEvent(event);
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
