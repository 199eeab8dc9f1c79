// A flash layout: several images and where each goes, written in one session of
// the built-in flash library (one load of it), each image checked on its own. The
// file is TOML; paths in it are relative to its folder:
//
//   mem-init = "board-ddr.txt"   # optional: the memory-init script to run first
//   verify = true                # optional: every image's default
//
//   [partitions]                 # NAND: the partitions images go into
//   kernel = { offset = 0x100000, size = 0x400000 }
//
//   [[image]]
//   file = "u-boot.bin"
//   offset = 0x0                 # NOR: from the flash's first byte
//   # partition = "kernel"       # NAND: written into it, its bad blocks skipped
//   verify = false               # no read-back of the whole range after writing
//
// A layout is refused, with the file's line at fault, before any board is touched:
// a missing or empty image file, images or partitions that overlap or leave the
// flash, keys it does not know.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/outcome.h"
#include "download/plan/presets.h"

namespace sealbench {

// The boards' flash parts, which layouts are checked against.
inline constexpr uint32_t kNorFlashSize = 32u << 20;    // S71WS256ND0, 256 Mbit
inline constexpr uint32_t kNandFlashSize = 128u << 20;  // K9K1G08U0B, 1 Gbit
inline constexpr uint32_t kNandBlockSize = 16384;       // 32 pages of 512 bytes

struct LayoutImage {
    std::string file;            // as the layout names it
    std::string path;            // where it is read from
    int line = 0;                // the layout's line that names the file
    uint32_t offset = 0;         // NOR: from the flash's first byte; NAND: the partition's offset
    std::string partition;       // NAND
    uint32_t partitionSize = 0;  // NAND
    bool verify = true;
    size_t size = 0;  // as the file system told when the layout was checked
};

struct FlashLayout {
    std::string path;
    std::string memInitScript;  // empty: the run's own memory initialisation
    int memInitLine = 0;
    std::vector<LayoutImage> images;

    uint64_t TotalBytes() const;
};

// Parses a layout's text. `name` is how messages call the file ("boards.toml"),
// `folder` where its relative paths start. A refusal's message names the file and
// line: "boards.toml:7: ...". Touches no file.
Result<FlashLayout> ParseLayout(std::string_view text, std::string_view name, const std::string& folder,
                                FlashType flashType);

// Checks where the images go, with their sizes filled in: each lies in the flash
// (NOR) or fits its partition (NAND), and no two overlap.
Outcome CheckPlacement(const FlashLayout& layout, std::string_view name, FlashType flashType);

// Reads the file, parses it, takes each image's size from the file system and
// checks the placement. Refuses a missing or empty image file by its line.
Result<FlashLayout> LoadLayout(const std::string& path, FlashType flashType);

}  // namespace sealbench
