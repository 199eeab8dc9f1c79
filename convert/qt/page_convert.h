// CPage_Convert: binary to S-record conversion. The option record lives with the
// page, so a raised address width or a cleared header flag carries over to the
// next conversion. The option fields beside Offset exist but are kept hidden.
#pragma once

#include "convert/srecord.h"
#include "ui/page_dialog.h"
#include "ui/page_prompts.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;

class CPage_Convert : public CPageDialog {
    Q_OBJECT
public:
    explicit CPage_Convert(QWidget* parent = nullptr);
    ~CPage_Convert() override;

    void OnConvert();
    void OnUserDefine();

    void SetPrompts(sealbench::PagePrompts prompts) { prompts_ = std::move(prompts); }
    const sealbench::SRecordOptions& Options() const { return options_; }

    QLineEdit* BinPathField() const { return binPath_; }
    QLineEdit* TargetField() const { return target_; }
    QLineEdit* OffsetField() const { return offset_; }
    QLineEdit* BeginField() const { return begin_; }
    QLineEdit* EndField() const { return end_; }
    QLineEdit* LineLengthField() const { return lineLength_; }
    QLineEdit* AddressSizeField() const { return addressSize_; }
    QCheckBox* SuppressBox() const { return suppress_; }
    QCheckBox* UserDefineBox() const { return userDefine_; }

private:
    void OnInitDialog();

    sealbench::SRecordOptions options_;
    QLineEdit* binPath_ = nullptr;
    QLineEdit* target_ = nullptr;
    QLineEdit* offset_ = nullptr;
    QLineEdit* begin_ = nullptr;
    QLineEdit* end_ = nullptr;
    QLineEdit* lineLength_ = nullptr;
    QLineEdit* addressSize_ = nullptr;
    QCheckBox* suppress_ = nullptr;
    QCheckBox* userDefine_ = nullptr;
    QGroupBox* toBinGroup_ = nullptr;
    sealbench::PagePrompts prompts_;
};
