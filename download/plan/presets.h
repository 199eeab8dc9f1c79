// What each Vireo processor type and each flash type selects: addresses, serial
// line mode, processor code, captions and the accepted RAM application ranges.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace sealbench {

enum class ProcessorType : int { VireoB = 0, VireoC_TO1 = 1, VireoC_TO2 = 2, None = 255 };
enum class FlashType : int { Nor = 0, Nand = 1, UserInput = 2, None = 255 };

struct AddressRange {
    uint32_t first;
    uint32_t end;  // exclusive
    bool Contains(uint32_t address) const { return address >= first && address < end; }
};

struct ProcessorPreset {
    std::string_view name;  // as listed in "Type of Vireo:"
    int lineMode;           // serial line mode of the boot ROM
    int processorCode;      // carried by register writes
    uint32_t ramBase;
    uint32_t norFlashStart;
    bool hasNandLibrary;
    bool hasSdramPreset;
    AddressRange ramRanges[2];     // accepted typed RAM application addresses
    std::string_view banner;       // first "Execute" of a program run
    std::string_view ramCaption;   // default box in DOWNLOAD only
    std::string_view norCaption;   // default box with NOR
    std::string_view userCaption;  // default box with USER INPUT

    uint32_t DefaultRamAddress() const { return ramBase + 0x4000; }
    bool AcceptsRamAddress(uint32_t address) const {
        return ramRanges[0].Contains(address) || ramRanges[1].Contains(address);
    }
};

// The preset of a chosen processor type; VireoC's for None, as the page treats an
// unchosen type like VireoC wherever it needs constants.
const ProcessorPreset& PresetOf(ProcessorType type);

// "VireoB", "VireoC_TO1", "VireoC_TO2" -> the type; nullopt for anything else.
std::optional<ProcessorType> ProcessorTypeFromName(std::string_view name);

inline constexpr std::string_view kFlashTypeNames[] = {"NOR (S71WS256ND0)", "NAND (K9K1G08U0B)", "USER INPUT"};

}  // namespace sealbench
