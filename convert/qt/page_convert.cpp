#include "convert/qt/page_convert.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/form_rows.h"

namespace {

const QString kDefault = QStringLiteral("DEFAULT");

}  // namespace

CPage_Convert::CPage_Convert(QWidget* parent) : CPageDialog(parent), prompts_(sealbench::PagePrompts::Dialogs(this)) {
    auto* toSrec = new QGroupBox(QStringLiteral("Bin to S-Record"), this);
    binPath_ = new QLineEdit(toSrec);
    target_ = new QLineEdit(toSrec);
    offset_ = new QLineEdit(toSrec);
    begin_ = new QLineEdit(toSrec);
    end_ = new QLineEdit(toSrec);
    lineLength_ = new QLineEdit(toSrec);
    addressSize_ = new QLineEdit(toSrec);
    suppress_ = new QCheckBox(QStringLiteral("Supress header and footer record"), toSrec);
    userDefine_ = new QCheckBox(QStringLiteral("User Define"), toSrec);
    auto* grid = new QGridLayout(toSrec);
    QPushButton* browseBin =
        sealbench::AddFieldRow(grid, 0, QStringLiteral("Bin Path"), binPath_, QStringLiteral("Browse"));
    QPushButton* browseTarget =
        sealbench::AddFieldRow(grid, 1, QStringLiteral("S-Record Target"), target_, QStringLiteral("Browse"));
    sealbench::AddFieldRow(grid, 2, QStringLiteral("Offset"), offset_);
    auto* convert = new QPushButton(QStringLiteral("Convert"), toSrec);
    grid->addWidget(convert, 2, 2);
    // Present but hidden: the page converts with their defaults.
    const std::pair<const char*, QLineEdit*> hidden[] = {
        {"Begin Address", begin_}, {"End Address", end_}, {"Line Length", lineLength_}, {"Address Size", addressSize_}};
    int row = 3;
    for (const auto& [label, field] : hidden) {
        auto* caption = new QLabel(QString::fromLatin1(label), toSrec);
        grid->addWidget(caption, row, 0);
        grid->addWidget(field, row++, 1);
        caption->hide();
        field->hide();
    }
    grid->addWidget(suppress_, row, 1);
    grid->addWidget(userDefine_, row + 1, 1);
    suppress_->hide();
    userDefine_->hide();

    // The other direction has its controls but no function behind them.
    toBinGroup_ = new QGroupBox(QStringLiteral("S-Record to Bin(To be implemented)"), this);
    auto* toBin = new QGridLayout(toBinGroup_);
    toBin->addWidget(new QLineEdit(toBinGroup_), 0, 0);
    toBin->addWidget(new QLineEdit(toBinGroup_), 1, 0);
    toBin->addWidget(new QCheckBox(QStringLiteral("Default Setting"), toBinGroup_), 2, 0);
    toBin->addWidget(new QCheckBox(QStringLiteral("Supress header and footer record"), toBinGroup_), 3, 0);
    for (QWidget* child : toBinGroup_->findChildren<QWidget*>()) {
        child->setEnabled(false);
    }
    toBinGroup_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(toSrec);
    layout->addWidget(toBinGroup_);
    layout->addStretch();

    connect(convert, &QPushButton::clicked, this, &CPage_Convert::OnConvert);
    connect(userDefine_, &QCheckBox::toggled, this, &CPage_Convert::OnUserDefine);
    connect(browseBin, &QPushButton::clicked, this, [this] {
        const QString path =
            prompts_.chooseFile(QStringLiteral("Please select the BIN file to convert:"),
                                QStringLiteral("bin files(*.bin)|*.bin|All Files(*.*)|*.*||"), QString());
        if (!path.isEmpty()) {
            binPath_->setText(path);
        }
    });
    connect(browseTarget, &QPushButton::clicked, this, [this] {
        const QString path =
            prompts_.chooseFile(QStringLiteral("Please select the s19 file to be saved:"),
                                QStringLiteral("s19 files(*.s19)|*.s19|All Files(*.*)|*.*||"), QString());
        if (!path.isEmpty()) {
            target_->setText(path);
        }
    });
    OnInitDialog();
}

CPage_Convert::~CPage_Convert() = default;

void CPage_Convert::OnInitDialog() {
    for (QLineEdit* field : {offset_, begin_, end_, lineLength_, addressSize_}) {
        field->setText(kDefault);
    }
    suppress_->setChecked(false);
    userDefine_->setChecked(true);
    OnUserDefine();
}

void CPage_Convert::OnUserDefine() {
    for (QLineEdit* field : {begin_, offset_, lineLength_, end_, addressSize_}) {
        field->setEnabled(userDefine_->isChecked());
    }
}

void CPage_Convert::OnConvert() {
    sealbench::SRecordRequest request;
    request.inputPath = binPath_->text().toStdString();
    request.outputPath = target_->text().toStdString();
    auto hex = [](QLineEdit* field) -> std::optional<uint32_t> {
        if (field->text() == kDefault) {
            return std::nullopt;
        }
        return sealbench::HexTextToValue(field->text().toStdString());
    };
    request.begin = hex(begin_);
    request.offset = hex(offset_);
    request.end = hex(end_);
    // A number field that holds no number is refused before anything changes.
    const std::pair<QLineEdit*, std::optional<long long>*> numbers[] = {{lineLength_, &request.lineLength},
                                                                        {addressSize_, &request.addressSize}};
    for (const auto& [field, value] : numbers) {
        if (field->text() == kDefault) {
            continue;
        }
        *value = sealbench::DecimalTextToValue(field->text().toStdString());
        if (!*value) {
            prompts_.Show(QStringLiteral("Please enter a decimal number: ") + field->text());
            return;
        }
    }
    request.suppressHeaderAndFooter = suppress_->isChecked();
    request.beforeWriting = [this](const std::string& path) { prompts_.Show(QString::fromStdString(path)); };

    const auto converted = sealbench::ConvertFile(options_, request, stderr);
    for (const std::string& message : converted.value.messages) {
        prompts_.Show(QString::fromStdString(message));
    }
}
