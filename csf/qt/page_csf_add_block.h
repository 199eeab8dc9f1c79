// Page_CSF_AddBlock: the "Add blocks" dialog of the CSF page. It names an image
// file and how many block rows to add for it; the file itself is never opened.
#pragma once

#include <QDialog>

#include "ui/page_prompts.h"

class QComboBox;
class QLineEdit;

class Page_CSF_AddBlock : public QDialog {
    Q_OBJECT
public:
    explicit Page_CSF_AddBlock(QWidget* parent = nullptr);
    ~Page_CSF_AddBlock() override;

    void SetPrompts(sealbench::PagePrompts prompts) { prompts_ = std::move(prompts); }

    // What the dialog hands over after "Add".
    const QString& Path() const { return path_; }
    const QString& Count() const { return count_; }

    QLineEdit* PathField() const { return pathEdit_; }
    QComboBox* CountList() const { return countList_; }
    void OnAdd();
    void OnBrowse();

private:
    QLineEdit* pathEdit_ = nullptr;
    QComboBox* countList_ = nullptr;
    QString path_;
    QString count_;
    sealbench::PagePrompts prompts_;
};
