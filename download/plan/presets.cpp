#include "download/plan/presets.h"

namespace sealbench {
namespace {

constexpr ProcessorPreset kVireoB{"VireoB",
                                  1,
                                  1,
                                  0xA0000000,
                                  0xC0000000,
                                  false,
                                  false,
                                  {{0xFFFF4C00, 0xFFFFFFFF}, {0xA0000000, 0xD8000FFF}},
                                  "VireoB Sealbench ver 1.0\n",
                                  "RAM Appl Start at 0xA0004000",
                                  "Flash Start at 0xC0000000",
                                  "No default!"};

constexpr ProcessorPreset kVireoC_TO1{"VireoC_TO1",
                                      0,
                                      0,
                                      0x80000000,
                                      0xA0000000,
                                      true,
                                      true,
                                      {{0x1FFFC000, 0x1FFFFFFF}, {0x80000000, 0xB8000000}},
                                      "VireoC Sealbench ver 1.3s\n",
                                      "RAM Appl Start at 0x80004000",
                                      "Flash Start at 0xA0000000",
                                      "NO default!"};

constexpr ProcessorPreset kVireoC_TO2 = [] {
    ProcessorPreset p = kVireoC_TO1;
    p.name = "VireoC_TO2";
    p.lineMode = 1;
    return p;
}();

}  // namespace

const ProcessorPreset& PresetOf(ProcessorType type) {
    switch (type) {
        case ProcessorType::VireoB:
            return kVireoB;
        case ProcessorType::VireoC_TO2:
            return kVireoC_TO2;
        case ProcessorType::VireoC_TO1:
        case ProcessorType::None:
            break;
    }
    return kVireoC_TO1;
}

std::optional<ProcessorType> ProcessorTypeFromName(std::string_view name) {
    for (ProcessorType type : {ProcessorType::VireoB, ProcessorType::VireoC_TO1, ProcessorType::VireoC_TO2}) {
        if (PresetOf(type).name == name) {
            return type;
        }
    }
    return std::nullopt;
}

}  // namespace sealbench
