// The download page's widgets and their places. Captions and list entries are the
// page's own and must stay exactly as written.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "download/plan/presets.h"
#include "download/qt/page_debug.h"
#include "ui/form_rows.h"

namespace {

template <class Widget>
Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A "Browse" button never takes Enter for itself: Enter belongs to "Execute".
QPushButton* Browse(QPushButton* button, const char* name) {
    Named(button, name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

void CPage_Debug::BuildLayout() {
    // "Type of Operation:"
    auto* operation = Named(new QGroupBox(QStringLiteral("Type of Operation:"), this), "operationGroup");
    downloadOnlyBox_ = Named(new QCheckBox(QStringLiteral("DOWNLOAD only"), operation), "downloadOnlyBox");
    flashingBox_ = Named(new QCheckBox(QStringLiteral("FLASHING"), operation), "flashingBox");
    flashTypeList_ = Named(new QComboBox(operation), "flashTypeList");
    for (std::string_view name : sealbench::kFlashTypeNames)
        flashTypeList_->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    flashLibEdit_ = Named(new QLineEdit(operation), "flashLibEdit");
    auto* operationGrid = new QGridLayout(operation);
    operationGrid->addWidget(downloadOnlyBox_, 0, 0);
    operationGrid->addWidget(flashingBox_, 0, 1, 1, 2);
    operationGrid->addWidget(new QLabel(QStringLiteral("Flash Type:"), operation), 1, 0);
    operationGrid->addWidget(flashTypeList_, 1, 1, 1, 2);
    flashLibBrowse_ = Browse(
        sealbench::AddFieldRow(operationGrid, 2, QStringLiteral("Flash Lib:"), flashLibEdit_, QStringLiteral("Browse")),
        "flashLibBrowse");

    // "Memory Init"
    auto* memory = Named(new QGroupBox(QStringLiteral("Memory Init"), this), "memoryGroup");
    ddrBox_ = Named(new QCheckBox(QStringLiteral("DDR init (PELBO)"), memory), "ddrBox");
    sdramBox_ = Named(new QCheckBox(QStringLiteral("SDRAM init (PELBO)"), memory), "sdramBox");
    memInitEdit_ = Named(new QLineEdit(memory), "memInitEdit");
    auto* memoryGrid = new QGridLayout(memory);
    memoryGrid->addWidget(ddrBox_, 0, 0);
    memoryGrid->addWidget(sdramBox_, 0, 1, 1, 2);
    memInitBrowse_ = Browse(sealbench::AddFieldRow(memoryGrid, 1, QStringLiteral("Memory Init File:"), memInitEdit_,
                                                   QStringLiteral("Browse")),
                            "memInitBrowse");
    memoryGrid->setRowStretch(2, 1);

    // "Secuitry Enable:", with the hidden secure-boot status button beside it.
    auto* security = Named(new QGroupBox(QStringLiteral("Secuitry Enable:"), this), "securityGroup");
    secureBox_ = Named(new QCheckBox(QStringLiteral("with CSF HWC"), security), "secureBox");
    auto* securityRow = new QHBoxLayout(security);
    securityRow->addWidget(secureBox_);
    securityRow->addStretch(1);
    sekurelButton_ = Named(new QPushButton(QStringLiteral("Check Sekurel Status"), this), "sekurelButton");
    sekurelButton_->setAutoDefault(false);

    // "Image File:" with the run's controls.
    auto* image = Named(new QGroupBox(QStringLiteral("Image File:"), this), "imageGroup");
    defaultBox_ = Named(new QCheckBox(QStringLiteral("RAM Appl Start at 0x80004000"), image), "defaultBox");
    addressLabel_ = Named(new QLabel(QStringLiteral("RAM Appl Start at 0x"), image), "addressLabel");
    addressEdit_ = Named(new QLineEdit(image), "addressEdit");
    partitionEdit_ = Named(new QLineEdit(image), "partitionEdit");
    imageEdit_ = Named(new QLineEdit(image), "imageEdit");
    imageBrowse_ = Browse(new QPushButton(QStringLiteral("Browse"), image), "imageBrowse");
    progressLabel_ = Named(new QLabel(QStringLiteral("Status:"), image), "progressLabel");
    progressBar_ = Named(new QProgressBar(image), "progressBar");
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(true);
    progressBar_->setFormat(QString());
    statusLog_ = Named(new QPlainTextEdit(image), "statusLog");
    statusLog_->setReadOnly(true);
    statusLog_->setTabChangesFocus(true);  // Tab moves on to "Execute", as in every other field
    statusLog_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    statusLog_->setMinimumHeight(120);
    runSummary_ = Named(new QLabel(image), "runSummary");
    runSummary_->setWordWrap(true);
    runSummary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    executeButton_ = Named(new QPushButton(QStringLiteral("Execute"), image), "executeButton");
    executeButton_->setAutoDefault(false);

    auto* imageGrid = new QGridLayout(image);
    imageGrid->addWidget(defaultBox_, 0, 0, 1, 4);
    imageGrid->addWidget(addressLabel_, 1, 0);
    imageGrid->addWidget(addressEdit_, 1, 1);
    imageGrid->addWidget(new QLabel(QStringLiteral("Partition Size 0x"), image), 1, 2, Qt::AlignRight);
    imageGrid->addWidget(partitionEdit_, 1, 3, 1, 2);
    imageGrid->addWidget(new QLabel(QStringLiteral("Image File:"), image), 2, 0);
    imageGrid->addWidget(imageEdit_, 2, 1, 1, 3);
    imageGrid->addWidget(imageBrowse_, 2, 4);
    imageGrid->addWidget(progressLabel_, 3, 0);
    imageGrid->addWidget(progressBar_, 3, 1, 1, 4);
    imageGrid->addWidget(statusLog_, 4, 0, 1, 5);
    imageGrid->addWidget(runSummary_, 5, 0, 1, 4);
    imageGrid->addWidget(executeButton_, 5, 4);
    imageGrid->setColumnStretch(1, 1);
    imageGrid->setColumnStretch(3, 1);
    imageGrid->setRowStretch(4, 1);

    // Debug controls of development silicon: part of the page, never shown.
    debugFrame_ =
        Named(new QGroupBox(QStringLiteral("For debug only on development or Sekurel disable type silicon"), this),
              "debugFrame");
    readAddressEdit_ = Named(new QLineEdit(debugFrame_), "readAddressEdit");
    readButton_ = Named(new QPushButton(QStringLiteral("Read"), debugFrame_), "readButton");
    memInitButton_ = Named(new QPushButton(QStringLiteral("Mem Init?"), debugFrame_), "memInitButton");
    readButton_->setAutoDefault(false);
    memInitButton_->setAutoDefault(false);
    auto* debugRow = new QHBoxLayout(debugFrame_);
    debugRow->addWidget(new QLabel(QStringLiteral("Address to be read: 0x"), debugFrame_));
    debugRow->addWidget(readAddressEdit_);
    debugRow->addWidget(readButton_);
    debugRow->addWidget(memInitButton_);

    auto* top = new QHBoxLayout;
    top->addWidget(operation, 1);
    top->addWidget(memory, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(security);
    layout->addWidget(image, 1);
    layout->addWidget(sekurelButton_);
    layout->addWidget(debugFrame_);
    sekurelButton_->hide();
    debugFrame_->hide();
}
