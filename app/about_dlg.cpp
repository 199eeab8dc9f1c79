#include "app/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/version.h"

QIcon SealbenchIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/sealbench/icons/sealbench-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/sealbench/icons/sealbench-256.png"), QSize(256, 256));
    return icon;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Sealbench"));
    setWindowIcon(SealbenchIcon());

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(SealbenchIcon().pixmap(48, 48));

    auto* version = new QLabel(QStringLiteral("Vireo Sealbench ver 2.0"), this);
    auto* supported = new QLabel(QStringLiteral("Supported: VireoB, VireoC"), this);
    // "ver 2.0" is the workbench's own name for itself; which build this is, and what
    // a bug report should name, is the version every program's --version prints.
    auto* build = new QLabel(QStringLiteral("Program version: sealbench %1").arg(sealbench::kProjectVersion), this);
    build->setObjectName(QStringLiteral("aboutProgramVersion"));
    build->setToolTip(QStringLiteral("The version of this build, as \"sealbench --version\" prints it"));
    auto* lines = new QVBoxLayout;
    lines->addWidget(version);
    lines->addWidget(supported);
    lines->addWidget(build);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(lines, 1);
    top->addWidget(ok, 0, Qt::AlignTop);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
