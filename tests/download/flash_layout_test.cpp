// Flash layouts (download/plan/flash_layout.h): what a good file gives, and each
// kind of refusal with the line it names.
#include "download/plan/flash_layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace sealbench {
namespace {

TEST(FlashLayout, ReadsImagesPartitionsAndDefaults) {
    const auto nor = ParseLayout(
        "mem-init = \"ddr.txt\"\nverify = false\n[[image]]\nfile = \"a.bin\"\noffset = 0x20000\nverify = true\n"
        "[[image]]\nfile = \"/abs/b.bin\"\noffset = 0x100000\n",
        "l.toml", "/boards", FlashType::Nor);
    ASSERT_TRUE(nor.Ok()) << nor.outcome.message;
    EXPECT_EQ(nor.value.memInitScript, "/boards/ddr.txt");
    ASSERT_EQ(nor.value.images.size(), 2u);
    EXPECT_EQ(nor.value.images[0].path, "/boards/a.bin");
    EXPECT_EQ(nor.value.images[0].offset, 0x20000u);
    EXPECT_EQ(nor.value.images[0].line, 4);
    EXPECT_TRUE(nor.value.images[0].verify);
    EXPECT_EQ(nor.value.images[1].path, "/abs/b.bin");
    EXPECT_FALSE(nor.value.images[1].verify);

    const auto nand = ParseLayout(
        "[partitions]\nkernel = { offset = 0x100000, size = 0x400000 }\n[[image]]\nfile = \"k\"\npartition = "
        "\"kernel\"\n",
        "l.toml", "", FlashType::Nand);
    ASSERT_TRUE(nand.Ok()) << nand.outcome.message;
    EXPECT_EQ(nand.value.images[0].offset, 0x100000u);
    EXPECT_EQ(nand.value.images[0].partitionSize, 0x400000u);
}

TEST(FlashLayout, RefusesWithTheLineAtFault) {
    struct Case {
        const char* text;
        FlashType type;
        size_t sizes[2];
        const char* says;
    };
    const Case cases[] = {
        {"[[image]]\nfile = \"a\"\nofset = 0\n", FlashType::Nor, {}, "l.toml:3: unknown key 'ofset'"},
        {"[[image]]\nfile = \"a\"\noffset = 1\n", FlashType::Nor, {}, "l.toml:3: a NOR image must start on an even"},
        {"[[image]]\nfile = \"a\"\n", FlashType::Nor, {}, "l.toml:2: image a needs an offset"},
        {"[[image]]\nfile = \"a\"\noffset = -2\n", FlashType::Nor, {}, "l.toml:3: offset is a whole number"},
        {"verify = \"yes\"\n", FlashType::Nor, {}, "l.toml:1: verify is true or false"},
        {"[[image]]\nfile = = 3\n", FlashType::Nor, {}, "l.toml:2: not a TOML file"},
        {"title = 1\n", FlashType::Nor, {}, "l.toml:1: unknown key 'title'"},
        {"[[image]]\nfile = \"a\"\noffset = 0x1FFF000\n", FlashType::Nor, {0x2000}, "l.toml:2: a at offset 0x01FFF000"},
        {"[[image]]\nfile = \"a\"\noffset = 0\n[[image]]\nfile = \"b\"\noffset = 0x8000\n",
         FlashType::Nor,
         {0x9000, 0x1000},
         "l.toml:5: b overlaps a (line 2) at offsets 0x00008000 to 0x00008FFF"},
        {"[partitions]\np = { offset = 0x4000, size = 0x8000 }\nq = { offset = 0x8000, size = 0x4000 }\n",
         FlashType::Nand,
         {},
         "l.toml:3: partition q overlaps partition p (line 2)"},
        {"[partitions]\np = { offset = 0x1000, size = 0x8000 }\n", FlashType::Nand, {}, "must start on a NAND block"},
        {"[partitions]\np = { offset = 0, size = 0x4000 }\n[[image]]\nfile = \"a\"\npartition = \"p\"\n",
         FlashType::Nand,
         {0x4001},
         "l.toml:4: a (16385 bytes) does not fit partition p (16384 bytes)"},
        {"[[image]]\nfile = \"a\"\noffset = 0\n", FlashType::Nand, {}, "l.toml:3: a NAND image goes into a partition"},
    };
    for (const Case& c : cases) {
        Result<FlashLayout> layout = ParseLayout(c.text, "l.toml", "", c.type);
        if (layout.Ok()) {
            for (size_t i = 0; i < layout.value.images.size() && i < 2; ++i) layout.value.images[i].size = c.sizes[i];
            layout.outcome = CheckPlacement(layout.value, "l.toml", c.type);
        }
        EXPECT_FALSE(layout.Ok()) << c.text;
        EXPECT_NE(layout.outcome.message.find(c.says), std::string::npos) << layout.outcome.message;
    }
}

TEST(FlashLayout, RefusesAnEmptyImageFileByItsLine) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "sealbench-layout-test";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "empty.bin");
    std::ofstream(dir / "l.toml") << "\n[[image]]\nfile = \"empty.bin\"\noffset = 0\n";
    const auto layout = LoadLayout((dir / "l.toml").string(), FlashType::Nor);
    EXPECT_NE(layout.outcome.message.find("l.toml:3: the image file " + (dir / "empty.bin").string() + " is empty"),
              std::string::npos)
        << layout.outcome.message;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace sealbench
