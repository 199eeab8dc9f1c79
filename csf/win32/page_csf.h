// CPage_CSF (Win32): CSF authoring over the CSF core. Definitions and certificates in
// fields, the further keys and the blocks to sign in two grids; "Execute" writes the
// CSF text file. The "#" and "Block" columns show running serials that never go
// back, while the file numbers keys and blocks by their position.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "csf/csf_document.h"
#include "grid/win32/grid_ctrl.h"
#include "ui/win32/page_dialog.h"
#include "ui/win32/win32_ui.h"

namespace sealbench::win32 {

class CPage_CSF : public CPageDialog {
public:
    struct BlockChoice {
        std::string path;
        std::string count;
    };
    // Runs the "Add blocks" dialog over the page; nullopt when it was cancelled.
    using AddBlockDialog = std::function<std::optional<BlockChoice>(HWND owner)>;

    CPage_CSF();

    // The open-file dialogs the page asks, and the "Add blocks" dialog (tests answer them).
    void SetFileChoosers(FileChoosers choosers) { choosers_ = std::move(choosers); }
    void SetAddBlockDialog(AddBlockDialog run) { runAddBlock_ = std::move(run); }

    CGridCtrl& KeyGrid() { return keyGrid_; }
    CGridCtrl& BlockGrid() { return blockGrid_; }
    int KeyCount() const { return keyCount_; }
    int BlockCount() const { return blockCount_; }
    // The page's document as "Execute" would write it.
    CsfDocument Document() const;

    void OnUserDefine();
    void OnAddKeys();
    void OnRemoveKey();
    void OnRemoveAllKeys();
    void OnAddBlock();
    void AddBlockRows(const std::string& path, int count);
    void OnRemoveBlock();
    void OnRemoveAllBlocks();
    void RefreshKeyChoices();
    void OnSaveCsf();

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    void Browse(int field, const char* title, const char* filter);

    CGridCtrl keyGrid_;
    int keyCount_ = 0;
    CGridCtrl blockGrid_;
    int blockCount_ = 0;
    int blockSerial_ = 0;
    int keySerial_ = 0;
    FileChoosers choosers_;
    AddBlockDialog runAddBlock_;
};

}  // namespace sealbench::win32
