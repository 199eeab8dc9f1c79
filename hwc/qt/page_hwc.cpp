#include "hwc/qt/page_hwc.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "grid/grid_ctrl.h"
#include "hwc/hwc_records.h"
#include "ui/form_rows.h"

namespace {

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

CPage_HWC::CPage_HWC(QWidget* parent) : CPageDialog(parent), prompts_(sealbench::PagePrompts::Dialogs(this)) {
    auto* content = new QGroupBox(QStringLiteral("Config Content"), this);
    grid_ = new CGridCtrl(content);
    auto* remove = new QPushButton(QStringLiteral("Remove"), content);
    auto* removeAll = new QPushButton(QStringLiteral("Remove All"), content);
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->addWidget(grid_);
    auto* removeRow = new QHBoxLayout;
    removeRow->addWidget(remove);
    removeRow->addWidget(removeAll);
    removeRow->addStretch();
    contentLayout->addLayout(removeRow);

    auto* addGroup = new QGroupBox(QStringLiteral("Add Record"), this);
    addressEdit_ = new QLineEdit(addGroup);
    dataEdit_ = new QLineEdit(addGroup);
    auto* add = new QPushButton(QStringLiteral("Add Record"), addGroup);
    auto* addLayout = new QGridLayout(addGroup);
    addLayout->addWidget(new QLabel(QStringLiteral("Address"), addGroup), 0, 0);
    addLayout->addWidget(new QLabel(QStringLiteral("0x"), addGroup), 0, 1);
    addLayout->addWidget(addressEdit_, 0, 2);
    addLayout->addWidget(new QLabel(QStringLiteral("Data"), addGroup), 1, 0);
    addLayout->addWidget(new QLabel(QStringLiteral("0x"), addGroup), 1, 1);
    addLayout->addWidget(dataEdit_, 1, 2);
    addLayout->addWidget(add, 2, 2);

    auto* exportGroup = new QGroupBox(QStringLiteral("Export HWC"), this);
    targetEdit_ = new QLineEdit(exportGroup);
    auto* exportLayout = new QGridLayout(exportGroup);
    QPushButton* browse = sealbench::AddFieldRow(exportLayout, 0, QStringLiteral("Target Location"), targetEdit_,
                                                 QStringLiteral("Browse"));
    auto* exportButton = new QPushButton(QStringLiteral("Export"), exportGroup);
    exportLayout->addWidget(exportButton, 1, 2);

    auto* side = new QVBoxLayout;
    side->addWidget(addGroup);
    side->addWidget(exportGroup);
    side->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(content, 1);
    layout->addLayout(side);

    connect(add, &QPushButton::clicked, this, &CPage_HWC::OnAddRecord);
    connect(remove, &QPushButton::clicked, this, &CPage_HWC::OnRemove);
    connect(removeAll, &QPushButton::clicked, this, &CPage_HWC::OnRemoveAll);
    connect(browse, &QPushButton::clicked, this, &CPage_HWC::OnBrowse);
    connect(exportButton, &QPushButton::clicked, this, &CPage_HWC::OnExportHwc);
    OnInitDialog();
}

CPage_HWC::~CPage_HWC() = default;

void CPage_HWC::OnInitDialog() {
    recordCount_ = 0;
    grid_->SetDefCellHeight(16);
    grid_->InsertColumn(QString(), Qt::AlignCenter);
    grid_->InsertColumn(QString(), Qt::AlignCenter);
    grid_->InsertRow(QString());
    grid_->SetItemText(0, 0, QStringLiteral("Address"));
    grid_->SetItemText(0, 1, QStringLiteral("Data"));
    grid_->SetItemState(0, 0, kGridCellReadOnly);
    grid_->SetItemState(0, 1, kGridCellReadOnly);
    grid_->SetColumnWidth(0, 160);
    grid_->ExpandLastColumn();
    addressEdit_->clear();
    dataEdit_->clear();
}

void CPage_HWC::OnAddRecord() {
    auto added = sealbench::MakeHwcRecord(addressEdit_->text().toStdString(), dataEdit_->text().toStdString());
    if (!added.record) {
        prompts_.Show(Text(added.refusal));
        return;
    }
    ++recordCount_;
    grid_->InsertRow(QString());
    grid_->SetItemText(recordCount_, 0, QString::fromStdString(added.record->address));
    grid_->SetItemText(recordCount_, 1, QString::fromStdString(added.record->data));
    grid_->Refresh();
    addressEdit_->clear();
    dataEdit_->clear();
}

void CPage_HWC::OnRemove() {
    // Deleting a row clears the selection, so at most the first selected row goes.
    for (int row = 1; row <= recordCount_; ++row) {
        if (grid_->IsCellSelected(row, 0)) {
            grid_->DeleteRow(row);
            --recordCount_;
        }
    }
    grid_->Refresh();
}

void CPage_HWC::OnRemoveAll() {
    while (recordCount_ > 0) {
        grid_->DeleteRow(1);
        --recordCount_;
    }
    grid_->Refresh();
}

void CPage_HWC::OnBrowse() {
    const QString path = prompts_.chooseFile(QStringLiteral("Please select a file for HW Config:"),
                                             QStringLiteral("bin files(*.bin)|*.bin|All Files(*.*)|*.*||"), QString());
    if (!path.isEmpty()) {
        targetEdit_->setText(path);
    }
}

void CPage_HWC::OnExportHwc() {
    std::vector<sealbench::HwcRecord> records;
    for (int row = 1; row <= recordCount_; ++row) {
        records.push_back({grid_->GetItemText(row, 0).toStdString(), grid_->GetItemText(row, 1).toStdString()});
    }
    auto exported = sealbench::ExportHwc(targetEdit_->text().toStdString(), records);
    for (const sealbench::HwcRefusal& refusal : exported.value) {
        prompts_.Show(QString::fromStdString(refusal.message));
    }
    prompts_.Show(QString::fromStdString(exported.outcome.message));
}
