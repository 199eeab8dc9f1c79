#include "csf/qt/page_csf_add_block.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "csf/csf_document.h"
#include "ui/form_rows.h"

Page_CSF_AddBlock::Page_CSF_AddBlock(QWidget* parent)
    : QDialog(parent), prompts_(sealbench::PagePrompts::Dialogs(this)) {
    setWindowTitle(QStringLiteral("Add blocks"));
    auto* group = new QGroupBox(QStringLiteral("Blocks to be signed"), this);
    pathEdit_ = new QLineEdit(group);
    countList_ = new QComboBox(group);
    for (int n = 1; n <= 9; ++n) {
        countList_->addItem(QString::number(n));
    }
    countList_->setCurrentIndex(0);
    auto* grid = new QGridLayout(group);
    QPushButton* browse =
        sealbench::AddFieldRow(grid, 0, QStringLiteral("Block in S19:"), pathEdit_, QStringLiteral("Browse"));
    sealbench::AddFieldRow(grid, 1, QStringLiteral("Number of blocks needed:"), countList_);

    auto* add = new QPushButton(QStringLiteral("Add"), this);
    add->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(add);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);

    connect(add, &QPushButton::clicked, this, &Page_CSF_AddBlock::OnAdd);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, &Page_CSF_AddBlock::OnBrowse);
}

Page_CSF_AddBlock::~Page_CSF_AddBlock() = default;

void Page_CSF_AddBlock::OnBrowse() {
    const QString path = prompts_.chooseFile(
        QStringLiteral("Please select the file:"),
        QStringLiteral("bin files(*.bin)|*.bin|s19 files(*.s19)|*.s19|All Files(*.*)|*.*||"), QString());
    if (!path.isEmpty()) {
        pathEdit_->setText(path);
    }
}

void Page_CSF_AddBlock::OnAdd() {
    const std::optional<std::string> path = sealbench::AddBlockPath(pathEdit_->text().toStdString());
    if (!path) {
        prompts_.Show(QString::fromUtf8(sealbench::kMsgCsfSelectFile.data(),
                                        static_cast<qsizetype>(sealbench::kMsgCsfSelectFile.size())));
        return;
    }
    path_ = QString::fromStdString(*path);
    count_ = countList_->currentText();
    accept();
}
