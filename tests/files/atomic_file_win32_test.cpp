// AtomicFile on Windows: a replace that Windows refuses (the target held open by
// someone else) leaves the old file and no temporary; names outside the ANSI code
// page work.
#include <gtest/gtest.h>

#include "common/atomic_file.h"
#include "common/win32_support.h"
#include "file_test_support.h"

namespace sealbench {
namespace {

using win32::UniqueHandle;
using win32::Widen;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(AtomicFileWin32, ReplacesAWholeFileAndLeavesNothingElse) {
    test::TempDir dir;
    test::WriteText(dir / "out.bin", "old contents, longer than the new ones");
    EXPECT_TRUE(WriteFileAtomically(dir / "out.bin", Bytes("new")).Ok());
    EXPECT_EQ(test::ReadText(dir / "out.bin"), "new");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.bin"});
}

TEST(AtomicFileWin32, ATargetHeldOpenIsLeftAsItWasWithoutATemporary) {
    test::TempDir dir;
    test::WriteText(dir / "held.bin", "old");
    UniqueHandle holder(::CreateFileW(Widen(dir / "held.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.Valid());

    std::string error;
    auto file = AtomicFile::Create(dir / "held.bin", error);
    ASSERT_NE(file, nullptr) << error;
    ASSERT_TRUE(file->Write(std::string_view("new")));
    EXPECT_EQ(dir.Entries().size(), 2u);  // the temporary, beside the target
    EXPECT_FALSE(file->Commit());
    EXPECT_EQ(file->Error().rfind("Cannot replace " + (dir / "held.bin") + ": ", 0), 0u) << file->Error();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"held.bin"});

    holder.Reset();
    EXPECT_EQ(test::ReadText(dir / "held.bin"), "old");
    EXPECT_TRUE(WriteFileAtomically(dir / "held.bin", Bytes("new")).Ok());
    EXPECT_EQ(test::ReadText(dir / "held.bin"), "new");
}

TEST(AtomicFileWin32, DroppedFileLeavesNothing) {
    test::TempDir dir;
    {
        std::string error;
        auto file = AtomicFile::Create(dir / "never.bin", error);
        ASSERT_NE(file, nullptr) << error;
        file->Write(std::string_view("half"));
    }
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(AtomicFileWin32, NamesAreUtf8AndFoldersAreRefused) {
    test::TempDir dir;
    const std::string name = "\xc3\x9c\x62\x65r \xe2\x9c\x93.bin";  // "Über ✓.bin"
    EXPECT_TRUE(WriteFileAtomically(dir / name, Bytes("x")).Ok());
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{name});
    EXPECT_EQ(::GetFileAttributesW(Widen(dir / name).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

    EXPECT_EQ(WriteFileAtomically(dir.Path(), Bytes("x")).message, "Cannot write " + dir.Path() + ": it is a folder");
    std::string missing = WriteFileAtomically(dir / "no/such/folder/x.bin", Bytes("x")).message;
    EXPECT_EQ(missing.rfind("Cannot create a file beside " + (dir / "no/such/folder/x.bin") + ": ", 0), 0u) << missing;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{name});
}

}  // namespace
}  // namespace sealbench
