// The download page's controls as plain data, and what each click does to them.
// The Qt page shows a PageControls and calls the handler of the control the user
// touched, then shows the result; the model never sees a widget.
#pragma once

#include <optional>
#include <string>

#include "download/plan/presets.h"
#include "download/plan/run_settings.h"

namespace sealbench {

struct PageControls {
    // "Type of Operation:"
    bool downloadOnly = true;
    bool flashing = false;
    int flashTypeIndex = 0;  // selection of "Flash Type:"; -1 none
    bool flashTypeEnabled = false;
    std::string flashLibPath;
    bool flashLibEnabled = false;  // the field and its "Browse"

    // "Memory Init"
    bool ddr = true;
    bool sdram = false;
    bool sdramEnabled = true;
    std::string memoryInitPath;
    bool memoryInitEnabled = false;  // the field and its "Browse"

    // "Secuitry Enable:"
    bool secure = false;

    // "Image File:" group
    bool defaultBox = true;
    bool defaultBoxEnabled = true;
    std::string defaultCaption = "RAM Appl Start at 0x80004000";
    std::string addressLabel = "RAM Appl Start at 0x";
    std::string addressText;
    bool addressEnabled = false;
    std::string partitionText;
    bool partitionEnabled = false;
    std::string imagePath;
};

class PageModel {
public:
    const PageControls& controls() const { return c_; }
    // Text fields the user types into; the model only needs their values.
    PageControls& fields() { return c_; }

    ProcessorType processor() const { return processor_; }
    FlashType flashType() const { return flashType_; }

    // Page handlers. A click handler toggles its box itself, as the click did.
    void ClickDownloadOnly();
    void ClickFlashing();
    void SelectFlashType(int index);
    void ClickDefaultBox();
    void ClickSecure();
    void ClickDdr();
    void ClickSdram();
    // A file was chosen with "Browse" beside "Image File:" or "Flash Lib:".
    void ChooseImage(const std::string& path);
    void ChooseFlashLibrary(const std::string& path);
    void ChooseMemoryInitFile(const std::string& path);

    // Main window: "Type of Vireo:" selection (-1 none).
    void SelectProcessor(int index);

    // The settings a run reads.
    RunSettings Settings() const;
    // The same with the window's "Fast serial flashing" menu choices, whose rate the
    // advice after a failed fast run names.
    RunSettings WindowSettings(bool fastSerial, int fastBaud) const;

private:
    void SetFlashCaptions();
    void ExchangeData() { confirmedFlashIndex_ = c_.flashTypeIndex; }

    PageControls c_;
    ProcessorType processor_ = ProcessorType::None;
    FlashType flashType_ = FlashType::None;
    int confirmedFlashIndex_ = -1;
};

// The main window's "Serial Port:" choice: what to open, or why nothing is.
struct PortChoice {
    bool open = false;
    std::string portText;  // the index as decimal text ("3" for COM3)
    int lineMode = 0;
    std::string message;  // message box text when nothing is opened
    bool resetToEmpty = false;
};
PortChoice ChoosePort(int index, ProcessorType processor);

// The Window menu's "Flash library status timeout" choices in seconds (0: as the
// library needs) and each one's caption.
inline constexpr int kStatusTimeoutChoices[] = {0, 60, 300, 900, 1800};
std::string StatusTimeoutCaption(int seconds);
// What the Window menu's "Erase" asks before it erases.
inline constexpr const char* kEraseQuestion =
    "Erase the flash where the image would go?\nThe sectors or blocks that cover it lose everything they hold.";
// The Window menu's "Flash layout..." item: its caption with the chosen file's name.
std::string LayoutCaption(const std::string& path);

}  // namespace sealbench
