// CPage_HWC: the HWC editor. Register writes are added to a grid as address and
// data texts and exported as an HWC file.
#pragma once

#include "ui/page_dialog.h"
#include "ui/page_prompts.h"

class CGridCtrl;
class QLineEdit;
class QPushButton;

class CPage_HWC : public CPageDialog {
    Q_OBJECT
public:
    explicit CPage_HWC(QWidget* parent = nullptr);
    ~CPage_HWC() override;

    void OnAddRecord();
    void OnRemove();
    void OnRemoveAll();
    void OnBrowse();
    void OnExportHwc();

    // Replaces the message boxes and file chooser, e.g. in tests.
    void SetPrompts(sealbench::PagePrompts prompts) { prompts_ = std::move(prompts); }

    CGridCtrl* Grid() const { return grid_; }
    QLineEdit* AddressField() const { return addressEdit_; }
    QLineEdit* DataField() const { return dataEdit_; }
    QLineEdit* TargetField() const { return targetEdit_; }
    int RecordCount() const { return recordCount_; }

private:
    void OnInitDialog();

    CGridCtrl* grid_ = nullptr;
    QLineEdit* addressEdit_ = nullptr;
    QLineEdit* dataEdit_ = nullptr;
    QLineEdit* targetEdit_ = nullptr;
    int recordCount_ = 0;
    sealbench::PagePrompts prompts_;
};
