// CPage_CSF: CSF authoring. Definitions and certificates in fields, the further
// keys and the blocks to sign in two grids; "Execute" writes the CSF text file.
// The "#" and "Block" columns show running serials that never go back, while the
// file numbers keys and blocks by their position.
#pragma once

#include <functional>
#include <optional>

#include "csf/csf_document.h"
#include "ui/page_dialog.h"
#include "ui/page_prompts.h"

class CGridCtrl;
class QCheckBox;
class QComboBox;
class QLineEdit;

class CPage_CSF : public CPageDialog {
    Q_OBJECT
public:
    explicit CPage_CSF(QWidget* parent = nullptr);
    ~CPage_CSF() override;

    void OnUserDefine();
    void OnBrowseSuperRoot();
    void OnBrowseCsfKey();
    void OnAddKeys();
    void OnRemoveKey();
    void OnRemoveAllKeys();
    void OnAddBlock();
    void OnRemoveBlock();
    void OnRemoveAllBlocks();
    void OnSaveCsf();
    void AddBlockRows(const QString& path, int count);
    void RefreshKeyChoices();

    // The page's document as "Execute" would write it.
    sealbench::CsfDocument Document() const;

    struct BlockChoice {
        QString path;
        QString count;
    };
    void SetPrompts(sealbench::PagePrompts prompts) { prompts_ = std::move(prompts); }
    // Replaces the "Add blocks" dialog, e.g. in tests; nullopt means cancelled.
    void SetAddBlockDialog(std::function<std::optional<BlockChoice>()> run) { runAddBlock_ = std::move(run); }

    QLineEdit* UidField() const { return uid_; }
    QCheckBox* UserDefineBox() const { return userDefine_; }
    QComboBox* TypeList() const { return type_; }
    QLineEdit* CodeField() const { return code_; }
    QLineEdit* SuperRootField() const { return superRoot_; }
    QLineEdit* CsfKeyField() const { return csfKey_; }
    CGridCtrl* KeyGrid() const { return keyGrid_; }
    CGridCtrl* BlockGrid() const { return blockGrid_; }
    int KeyCount() const { return keyCount_; }
    int BlockCount() const { return blockCount_; }

private:
    void OnInitDialog();

    QLineEdit* uid_ = nullptr;
    QCheckBox* userDefine_ = nullptr;
    QComboBox* type_ = nullptr;
    QLineEdit* code_ = nullptr;
    QLineEdit* superRoot_ = nullptr;
    QLineEdit* csfKey_ = nullptr;
    CGridCtrl* keyGrid_ = nullptr;
    int keyCount_ = 0;
    CGridCtrl* blockGrid_ = nullptr;
    int blockCount_ = 0;
    int blockSerial_ = 0;
    int keySerial_ = 0;
    sealbench::PagePrompts prompts_;
    std::function<std::optional<BlockChoice>()> runAddBlock_;
};
