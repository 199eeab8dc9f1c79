// CAboutDlg: the program's about box, opened from the main window's menu.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The program icon in every size the resources hold.
QIcon SealbenchIcon();
