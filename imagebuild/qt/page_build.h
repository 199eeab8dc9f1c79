// CPage_Build: the build page. Its sign group runs the signing tool on a CSF text
// file, with an identifier typed or picked from a profile kept for this run; its
// combine group joins HWC, signed CSF and image into one combined file.
#pragma once

#include "ui/page_dialog.h"
#include "ui/page_prompts.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

class CPage_Build : public CPageDialog {
    Q_OBJECT
public:
    explicit CPage_Build(QWidget* parent = nullptr);
    ~CPage_Build() override;

    void OnEnableProfile();
    void OnAddToProfile();
    void OnSign();
    void OnVireoASetting();
    void OnCombine();

    void SetPrompts(sealbench::PagePrompts prompts) { prompts_ = std::move(prompts); }

    QCheckBox* EnableProfileBox() const { return enableProfile_; }
    QComboBox* ProfileList() const { return profile_; }
    QLineEdit* IdentifierField() const { return identifier_; }
    QLineEdit* CsfField() const { return csf_; }
    QLineEdit* OutputCsfField() const { return outputCsf_; }
    QLineEdit* OsField() const { return os_; }
    QLineEdit* OsAddressField() const { return osAddress_; }
    QLineEdit* SignedCsfField() const { return signedCsf_; }
    QLineEdit* CsfAddressField() const { return csfAddress_; }
    QLineEdit* HwcField() const { return hwc_; }
    QLineEdit* HwcAddressField() const { return hwcAddress_; }
    QLineEdit* TargetField() const { return target_; }
    QCheckBox* VireoABox() const { return vireoA_; }

private:
    void OnInitDialog();
    void Browse(QLineEdit* field, const QString& title, const QString& filter);
    void WritePreset();

    QCheckBox* enableProfile_ = nullptr;
    QComboBox* profile_ = nullptr;
    QLineEdit* identifier_ = nullptr;
    QLineEdit* csf_ = nullptr;
    QLineEdit* outputCsf_ = nullptr;
    QLineEdit* os_ = nullptr;
    QLineEdit* osAddress_ = nullptr;
    QLineEdit* signedCsf_ = nullptr;
    QLineEdit* csfAddress_ = nullptr;
    QLineEdit* hwc_ = nullptr;
    QLineEdit* hwcAddress_ = nullptr;
    QLineEdit* target_ = nullptr;
    QCheckBox* vireoA_ = nullptr;
    sealbench::PagePrompts prompts_;
};
