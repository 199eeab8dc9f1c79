#include "csf/qt/page_csf.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "csf/qt/page_csf_add_block.h"
#include "grid/grid_ctrl.h"
#include "ui/form_rows.h"

namespace {

const QString kCrtFilter = QStringLiteral("crt files(*.crt)|*.crt|All Files(*.*)|*.*||");

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString NameOf(const QString& path) { return QString::fromStdString(sealbench::FileNameOfPath(path.toStdString())); }

// The set-up both grids share: centred single-line cells, 16-pixel rows, one
// whole row selected at a time, no title tips, no focus frame, white background.
void SetUpGrid(CGridCtrl* grid, const QStringList& headers, bool editable) {
    grid->SetDefCellHeight(16);
    for (int i = 0; i < headers.size(); ++i) {
        grid->InsertColumn(QString(), Qt::AlignCenter);
    }
    grid->InsertRow(QString());
    for (int i = 0; i < headers.size(); ++i) {
        grid->SetItemText(0, i, headers[i]);
    }
    grid->SetEditable(editable);
    grid->SetListMode(true);
    grid->SetSingleRowSelection(true);
    grid->SetFixedRowSelection(false);
    grid->EnableTitleTips(false);
    grid->SetFocusFrame(false);
    grid->SetBkColor(Qt::white);
}

}  // namespace

CPage_CSF::CPage_CSF(QWidget* parent) : CPageDialog(parent), prompts_(sealbench::PagePrompts::Dialogs(this)) {
    auto* definitions = new QGroupBox(QStringLiteral("Definitions"), this);
    type_ = new QComboBox(definitions);
    uid_ = new QLineEdit(definitions);
    userDefine_ = new QCheckBox(QStringLiteral("User define"), definitions);
    code_ = new QLineEdit(definitions);
    auto* defLayout = new QGridLayout(definitions);
    sealbench::AddFieldRow(defLayout, 0, QStringLiteral("Type"), type_);
    sealbench::AddFieldRow(defLayout, 1, QStringLiteral("UID"), uid_);
    defLayout->addWidget(userDefine_, 1, 2);
    sealbench::AddFieldRow(defLayout, 2, QStringLiteral("Code"), code_);

    auto* declarations = new QGroupBox(QStringLiteral("Declarations"), this);
    superRoot_ = new QLineEdit(declarations);
    csfKey_ = new QLineEdit(declarations);
    auto* declLayout = new QGridLayout(declarations);
    QPushButton* browseRoot =
        sealbench::AddFieldRow(declLayout, 0, QStringLiteral("Super Root"), superRoot_, QStringLiteral("Browse"));
    QPushButton* browseCsfKey =
        sealbench::AddFieldRow(declLayout, 1, QStringLiteral("CSF Key"), csfKey_, QStringLiteral("Browse"));
    keyGrid_ = new CGridCtrl(declarations);
    auto* addKeys = new QPushButton(QStringLiteral("Add"), declarations);
    auto* removeKey = new QPushButton(QStringLiteral("Remove"), declarations);
    auto* removeAllKeys = new QPushButton(QStringLiteral("Remove All"), declarations);
    declLayout->addWidget(keyGrid_, 2, 0, 1, 3);
    auto* keyButtons = new QHBoxLayout;
    keyButtons->addWidget(addKeys);
    keyButtons->addWidget(removeKey);
    keyButtons->addWidget(removeAllKeys);
    keyButtons->addStretch();
    declLayout->addLayout(keyButtons, 3, 0, 1, 3);

    auto* blocks = new QGroupBox(QStringLiteral("Blocks"), this);
    blockGrid_ = new CGridCtrl(blocks);
    auto* addBlock = new QPushButton(QStringLiteral("Add Block"), blocks);
    auto* removeBlock = new QPushButton(QStringLiteral("Remove"), blocks);
    auto* removeAllBlocks = new QPushButton(QStringLiteral("Remove All"), blocks);
    auto* execute = new QPushButton(QStringLiteral("Execute"), this);
    auto* blockLayout = new QVBoxLayout(blocks);
    blockLayout->addWidget(blockGrid_);
    auto* blockButtons = new QHBoxLayout;
    blockButtons->addWidget(addBlock);
    blockButtons->addWidget(removeBlock);
    blockButtons->addWidget(removeAllBlocks);
    blockButtons->addStretch();
    blockLayout->addLayout(blockButtons);

    auto* layout = new QGridLayout(this);
    layout->addWidget(definitions, 0, 0);
    layout->addWidget(declarations, 1, 0);
    layout->addWidget(blocks, 0, 1, 2, 1);
    layout->addWidget(execute, 2, 1, Qt::AlignRight);

    connect(userDefine_, &QCheckBox::clicked, this, &CPage_CSF::OnUserDefine);
    connect(browseRoot, &QPushButton::clicked, this, &CPage_CSF::OnBrowseSuperRoot);
    connect(browseCsfKey, &QPushButton::clicked, this, &CPage_CSF::OnBrowseCsfKey);
    connect(addKeys, &QPushButton::clicked, this, &CPage_CSF::OnAddKeys);
    connect(removeKey, &QPushButton::clicked, this, &CPage_CSF::OnRemoveKey);
    connect(removeAllKeys, &QPushButton::clicked, this, &CPage_CSF::OnRemoveAllKeys);
    connect(addBlock, &QPushButton::clicked, this, &CPage_CSF::OnAddBlock);
    connect(removeBlock, &QPushButton::clicked, this, &CPage_CSF::OnRemoveBlock);
    connect(removeAllBlocks, &QPushButton::clicked, this, &CPage_CSF::OnRemoveAllBlocks);
    connect(execute, &QPushButton::clicked, this, &CPage_CSF::OnSaveCsf);

    runAddBlock_ = [this]() -> std::optional<BlockChoice> {
        Page_CSF_AddBlock dialog(this);
        if (dialog.exec() != QDialog::Accepted) {
            return std::nullopt;
        }
        return BlockChoice{dialog.Path(), dialog.Count()};
    };
    OnInitDialog();
}

CPage_CSF::~CPage_CSF() = default;

void CPage_CSF::OnInitDialog() {
    uid_->setEnabled(false);
    uid_->setText(Text(sealbench::kCsfGenericUid));
    type_->addItem(Text(sealbench::kCsfTypeEngineering));
    type_->addItem(Text(sealbench::kCsfTypeProduct));
    type_->setCurrentIndex(0);
    code_->setText(Text(sealbench::kCsfEmptyCode));
    superRoot_->clear();
    csfKey_->clear();
    keyCount_ = keySerial_ = blockCount_ = blockSerial_ = 0;

    SetUpGrid(keyGrid_, {QStringLiteral("#"), QStringLiteral("Key"), QStringLiteral("Full path")}, false);
    keyGrid_->SetColumnWidth(0, 20);
    keyGrid_->SetColumnWidth(1, 120);
    keyGrid_->ExpandLastColumn();

    const QStringList headers = {QStringLiteral("Block"), QStringLiteral("File Name"),
                                 QStringLiteral("Starting Address"), QStringLiteral("Bytes to sign"),
                                 QStringLiteral("Key")};
    SetUpGrid(blockGrid_, headers, true);
    for (int column = 0; column < headers.size(); ++column) {
        blockGrid_->SetItemState(0, column, kGridCellReadOnly);
    }
    const int widths[] = {35, 80, 85, 85};
    for (int column = 0; column < 4; ++column) {
        blockGrid_->SetColumnWidth(column, widths[column]);
    }
    blockGrid_->ExpandLastColumn();
}

void CPage_CSF::OnUserDefine() {
    const bool user = userDefine_->isChecked();
    uid_->setEnabled(user);
    uid_->setText(Text(sealbench::UidFieldText(user)));
}

void CPage_CSF::OnBrowseSuperRoot() {
    const QString path = prompts_.chooseFile(QStringLiteral("Please select the Super Root file:"),
                                             QStringLiteral("der files(*.der)|*.der|All Files(*.*)|*.*||"), QString());
    if (!path.isEmpty()) {
        superRoot_->setText(path);
    }
}

void CPage_CSF::OnBrowseCsfKey() {
    const QString path = prompts_.chooseFile(QStringLiteral("Please select the CSF Key file:"), kCrtFilter, QString());
    if (!path.isEmpty()) {
        csfKey_->setText(path);
    }
}

void CPage_CSF::OnAddKeys() {
    const QStringList paths =
        prompts_.chooseFiles(QStringLiteral("Please select the CSF Key file (Allow Multiselection):"), kCrtFilter);
    if (paths.isEmpty()) {
        return;
    }
    for (const QString& path : paths) {
        ++keyCount_;
        ++keySerial_;
        if (keyGrid_->GetRowCount() - 1 < keyCount_) {
            keyGrid_->InsertRow(QString());
        }
        keyGrid_->SetItemText(keyCount_, 0, QString::number(keySerial_));
        keyGrid_->SetItemText(keyCount_, 1, NameOf(path));
        keyGrid_->SetItemText(keyCount_, 2, path);
    }
    keyGrid_->SetColumnWidth(2, 20);
    keyGrid_->ExpandLastColumn();
    keyGrid_->Refresh();
    RefreshKeyChoices();
}

void CPage_CSF::OnRemoveKey() {
    // Deleting a row clears the selection, so one click removes at most one row.
    for (int row = 1; row <= keyCount_; ++row) {
        if (keyGrid_->IsCellSelected(row, 0)) {
            keyGrid_->DeleteRow(row);
            --keyCount_;
        }
    }
    keyGrid_->Refresh();
    RefreshKeyChoices();
}

void CPage_CSF::OnRemoveAllKeys() {
    for (; keyCount_ > 0; --keyCount_) {
        keyGrid_->DeleteRow(1);
    }
    keyGrid_->Refresh();
    RefreshKeyChoices();
}

void CPage_CSF::OnAddBlock() {
    if (auto choice = runAddBlock_()) {
        AddBlockRows(choice->path, choice->count.toInt());
    }
    RefreshKeyChoices();
}

void CPage_CSF::AddBlockRows(const QString& path, int count) {
    const QString name = NameOf(path);
    const int first = blockCount_;
    for (int i = 0; i < count; ++i) {
        ++blockCount_;
        ++blockSerial_;
        const int row = first + i + 1;
        if (blockGrid_->GetRowCount() - 1 < blockCount_) {
            blockGrid_->InsertRow(QString());
            blockGrid_->SetItemState(row, 0, kGridCellReadOnly);
            blockGrid_->SetItemState(row, 1, kGridCellReadOnly);
            blockGrid_->SetCellType<CGridCellCombo>(row, 4);
        }
        blockGrid_->SetItemText(row, 0, QString::number(blockSerial_));
        blockGrid_->SetItemText(row, 1, name);
        blockGrid_->SetItemText(row, 2, QStringLiteral("0x"));
        blockGrid_->SetItemText(row, 3, QStringLiteral("0x"));
    }
    blockGrid_->Refresh();
}

void CPage_CSF::RefreshKeyChoices() {
    QStringList names;
    for (int row = 1; row <= keyCount_; ++row) {
        names << keyGrid_->GetItemText(row, 1);
    }
    for (int row = 1; row <= blockCount_; ++row) {
        if (auto* combo = dynamic_cast<CGridCellCombo*>(blockGrid_->GetCell(row, 4))) {
            combo->SetOptions(names);
            combo->SetStyle(CGridCellCombo::Style::DropDown);
        }
    }
    blockGrid_->Refresh();
}

void CPage_CSF::OnRemoveBlock() {
    for (int row = 1; row <= blockCount_; ++row) {
        if (blockGrid_->IsCellSelected(row, 0)) {
            blockGrid_->DeleteRow(row);
            --blockCount_;
        }
    }
    blockGrid_->Refresh();
    RefreshKeyChoices();
}

void CPage_CSF::OnRemoveAllBlocks() {
    for (; blockCount_ > 0; --blockCount_) {
        blockGrid_->DeleteRow(1);
    }
    blockGrid_->Refresh();
    RefreshKeyChoices();
}

sealbench::CsfDocument CPage_CSF::Document() const {
    sealbench::CsfDocument document;
    document.type = type_->currentText().toStdString();
    document.uid = uid_->text().toStdString();
    document.code = code_->text().toStdString();
    document.superRootPath = superRoot_->text().toStdString();
    document.csfKeyPath = csfKey_->text().toStdString();
    for (int row = 1; row <= keyCount_; ++row) {
        document.keyNames.push_back(keyGrid_->GetItemText(row, 1).toStdString());
    }
    for (int row = 1; row <= blockCount_; ++row) {
        document.blocks.push_back(
            {blockGrid_->GetItemText(row, 1).toStdString(), blockGrid_->GetItemText(row, 2).toStdString(),
             blockGrid_->GetItemText(row, 3).toStdString(), blockGrid_->GetItemText(row, 4).toStdString()});
    }
    return document;
}

void CPage_CSF::OnSaveCsf() {
    const sealbench::CsfDocument document = Document();
    if (auto refusal = sealbench::ValidateCsf(document)) {
        prompts_.Show(Text(*refusal));
        return;
    }
    const QString path = prompts_.chooseFile(QStringLiteral("Please select the Working Directory:"),
                                             QStringLiteral("csf files(*.csf)|*.csf|All Files(*.*)|*.*||"),
                                             QStringLiteral("sample.csf"));
    if (path.isEmpty()) {
        return;
    }
    const sealbench::Outcome saved = sealbench::SaveCsf(path.toStdString(), document);
    prompts_.Show(saved.Ok() ? Text(sealbench::kMsgCsfSaved) : QString::fromStdString(saved.message));
}
