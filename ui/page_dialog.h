// CPageDialog: the base of every page that the main window's tab host shows.
//
// A page is a dialog laid out as a child widget. Enter and Esc pressed inside a page
// must not close anything: the page's accept and reject do nothing, and the keys stop
// at the page instead of reaching the main window (where they would close the
// program). Everything else is an ordinary QDialog.
#pragma once

#include <QDialog>

class CPageDialog : public QDialog {
    Q_OBJECT
public:
    explicit CPageDialog(QWidget* parent = nullptr);
    ~CPageDialog() override;

    // Enter and Esc inside the page leave it open.
    void accept() override;
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
