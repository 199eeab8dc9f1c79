#include "imagebuild/qt/page_build.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "imagebuild/combine.h"
#include "imagebuild/signing.h"
#include "ui/form_rows.h"

namespace {

const QString kBinFilter = QStringLiteral("bin files(*.bin)|*.bin|All Files(*.*)|*.*||");
const QString kTargetTitle = QStringLiteral("Please select the Target output file:");

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

CPage_Build::CPage_Build(QWidget* parent) : CPageDialog(parent), prompts_(sealbench::PagePrompts::Dialogs(this)) {
    auto* sign = new QGroupBox(QStringLiteral("Sign CSF File"), this);
    enableProfile_ = new QCheckBox(QStringLiteral("Enable Profile"), sign);
    profile_ = new QComboBox(sign);
    profile_->setEditable(true);
    profile_->setInsertPolicy(QComboBox::NoInsert);
    identifier_ = new QLineEdit(sign);
    csf_ = new QLineEdit(sign);
    outputCsf_ = new QLineEdit(sign);
    auto* signLayout = new QGridLayout(sign);
    signLayout->addWidget(enableProfile_, 0, 0);
    sealbench::AddFieldRow(signLayout, 1, QStringLiteral("Profile"), profile_);
    QPushButton* addToProfile = sealbench::AddFieldRow(signLayout, 2, QStringLiteral("Identifer"), identifier_,
                                                       QStringLiteral("Add to Profile"));
    QPushButton* browseCsf =
        sealbench::AddFieldRow(signLayout, 3, QStringLiteral("CSF"), csf_, QStringLiteral("Browse"));
    QPushButton* browseOutput =
        sealbench::AddFieldRow(signLayout, 4, QStringLiteral("Output CSF"), outputCsf_, QStringLiteral("Browse"));
    auto* signButton = new QPushButton(QStringLiteral("Sekurel Build"), sign);
    signButton->setDefault(true);
    signLayout->addWidget(signButton, 5, 2);

    auto* combine = new QGroupBox(QStringLiteral("Combine to Create BIN File"), this);
    auto* combineLayout = new QGridLayout(combine);
    auto addRow = [&](int row, const QString& label, QLineEdit*& path, QLineEdit** address) {
        path = new QLineEdit(combine);
        QPushButton* browse = sealbench::AddFieldRow(combineLayout, row, label, path, QStringLiteral("Browse"));
        if (address != nullptr) {
            *address = new QLineEdit(combine);
            combineLayout->addWidget(new QLabel(QStringLiteral("Address"), combine), row, 3);
            combineLayout->addWidget(*address, row, 4);
        }
        return browse;
    };
    auto* browseOs = addRow(0, QStringLiteral("OS"), os_, &osAddress_);
    auto* browseSigned = addRow(1, QStringLiteral("Signed CSF"), signedCsf_, &csfAddress_);
    auto* browseHwc = addRow(2, QStringLiteral("HWC"), hwc_, &hwcAddress_);
    auto* browseTarget = addRow(3, QStringLiteral("Target Location"), target_, nullptr);
    vireoA_ = new QCheckBox(QStringLiteral("VireoA Setting"), combine);
    auto* combineButton = new QPushButton(QStringLiteral("Combine"), combine);
    combineLayout->addWidget(vireoA_, 4, 1);
    combineLayout->addWidget(combineButton, 4, 2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(sign);
    layout->addWidget(combine);
    layout->addStretch();

    connect(enableProfile_, &QCheckBox::clicked, this, &CPage_Build::OnEnableProfile);
    connect(addToProfile, &QPushButton::clicked, this, &CPage_Build::OnAddToProfile);
    connect(signButton, &QPushButton::clicked, this, &CPage_Build::OnSign);
    connect(vireoA_, &QCheckBox::clicked, this, &CPage_Build::OnVireoASetting);
    connect(combineButton, &QPushButton::clicked, this, &CPage_Build::OnCombine);
    connect(browseCsf, &QPushButton::clicked, this, [this] {
        Browse(csf_, QStringLiteral("Please select the CSF file:"),
               QStringLiteral("csf files(*.csf)|*.csf|All Files(*.*)|*.*||"));
    });
    connect(browseOutput, &QPushButton::clicked, this, [this] { Browse(outputCsf_, kTargetTitle, kBinFilter); });
    connect(browseOs, &QPushButton::clicked, this,
            [this] { Browse(os_, QStringLiteral("Please select the OS image file:"), kBinFilter); });
    connect(browseSigned, &QPushButton::clicked, this,
            [this] { Browse(signedCsf_, QStringLiteral("Please select the signed CSF file:"), kBinFilter); });
    connect(browseHwc, &QPushButton::clicked, this,
            [this] { Browse(hwc_, QStringLiteral("Please select the HWC file:"), kBinFilter); });
    connect(browseTarget, &QPushButton::clicked, this, [this] { Browse(target_, kTargetTitle, kBinFilter); });
    OnInitDialog();
}

CPage_Build::~CPage_Build() = default;

void CPage_Build::OnInitDialog() {
    profile_->setEnabled(false);
    WritePreset();
    osAddress_->setEnabled(false);
    csfAddress_->setEnabled(false);
    hwcAddress_->setEnabled(false);
}

void CPage_Build::Browse(QLineEdit* field, const QString& title, const QString& filter) {
    const QString path = prompts_.chooseFile(title, filter, QString());
    if (!path.isEmpty()) {
        field->setText(path);
    }
}

void CPage_Build::WritePreset() {
    const sealbench::CombineAddresses preset = sealbench::AddressPreset(vireoA_->isChecked());
    osAddress_->setText(QString::fromStdString(preset.image));
    csfAddress_->setText(QString::fromStdString(preset.csf));
    hwcAddress_->setText(QString::fromStdString(preset.hwc));
}

void CPage_Build::OnEnableProfile() { profile_->setEnabled(enableProfile_->isChecked()); }

void CPage_Build::OnAddToProfile() {
    if (!enableProfile_->isChecked()) {
        prompts_.Show(Text(sealbench::kMsgEnableProfileFirst));
        return;
    }
    // A sorted list: the new entry goes after every entry that sorts before or
    // equal to it, ignoring case as the platform's sorted lists do.
    const QString entry = identifier_->text();
    int at = 0;
    while (at < profile_->count() && QString::compare(profile_->itemText(at), entry, Qt::CaseInsensitive) <= 0) {
        ++at;
    }
    const int selected = profile_->currentIndex();
    const QString typed = profile_->currentText();
    profile_->insertItem(at, entry);
    // Inserting into an empty list would select the new entry; the list keeps
    // what the user had selected (or nothing) instead.
    profile_->setCurrentIndex(selected < 0 ? -1 : (selected >= at ? selected + 1 : selected));
    if (selected < 0) {
        profile_->setEditText(typed);
    }
}

void CPage_Build::OnSign() {
    const int selected = profile_->currentIndex();
    const std::optional<std::string> identifier = sealbench::SignIdentifier(
        enableProfile_->isChecked(),
        selected < 0 ? std::nullopt : std::optional(profile_->itemText(selected).toStdString()),
        identifier_->text().toStdString());
    if (!identifier) {
        prompts_.Show(Text(sealbench::kMsgSelectProfileEntry));
        return;
    }
    sealbench::SignRequest request;
    request.identifier = *identifier;
    request.csfPath = csf_->text().toStdString();
    request.outputPath = outputCsf_->text().toStdString();
    const sealbench::SignResult result = sealbench::RunSigningTool(request);
    prompts_.Show(QString::fromStdString(sealbench::SignReport(request, result)));
}

void CPage_Build::OnVireoASetting() { WritePreset(); }

void CPage_Build::OnCombine() {
    sealbench::CombineRequest request;
    request.target = target_->text().toStdString();
    request.osPath = os_->text().toStdString();
    request.csfPath = signedCsf_->text().toStdString();
    request.hwcPath = hwc_->text().toStdString();
    request.addresses = {osAddress_->text().toStdString(), csfAddress_->text().toStdString(),
                         hwcAddress_->text().toStdString()};
    const sealbench::CombineReport report = sealbench::ReportOfCombine(sealbench::RunCombine(request));
    if (report.caption.empty()) {
        prompts_.Show(QString::fromStdString(report.text));
    } else {
        prompts_.Show(QString::fromStdString(report.text), QString::fromStdString(report.caption));
    }
}
