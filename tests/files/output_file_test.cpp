// The output writer every file tool uses, against what a path can name: links,
// devices, FIFOs, folders, files with their own permissions and owners, names at
// the file system's limit. The tools' own checks of inputs and outputs beside it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "common/atomic_file.h"
#include "common/file_checks.h"
#include "file_test_support.h"

namespace {

using sealbench::WriteFileAtomically;
using sealbench::test::ReadText;
using sealbench::test::TempDir;
using sealbench::test::WriteText;

const std::vector<uint8_t> kBytes = {'n', 'e', 'w', '\n'};

struct stat Lstat(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

TEST(OutputFile, LinksAreFollowedAndStay) {
    TempDir dir;
    WriteText(dir / "real.bin", "old");
    std::filesystem::create_symlink("real.bin", dir / "link.bin");
    ASSERT_TRUE(WriteFileAtomically(dir / "link.bin", kBytes).Ok());
    EXPECT_TRUE(S_ISLNK(Lstat(dir / "link.bin").st_mode));
    EXPECT_EQ(ReadText(dir / "real.bin"), "new\n");

    // A link to a file that does not exist yet creates that file, as the shell's > does.
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_symlink("sub/made.bin", dir / "dangling.bin");
    ASSERT_TRUE(WriteFileAtomically(dir / "dangling.bin", kBytes).Ok());
    EXPECT_TRUE(S_ISLNK(Lstat(dir / "dangling.bin").st_mode));
    EXPECT_EQ(ReadText(dir / "sub/made.bin"), "new\n");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"dangling.bin", "link.bin", "real.bin", "sub"}));
}

TEST(OutputFile, DevicesAndFifosAreWrittenStraightThrough) {
    TempDir dir;
    // A node of our own: a broken writer must never get the chance to replace /dev/null.
    if (::mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "cannot make a device node here: " << std::strerror(errno);
    }
    ASSERT_TRUE(WriteFileAtomically(dir / "null", kBytes).Ok());
    EXPECT_TRUE(S_ISCHR(Lstat(dir / "null").st_mode));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"null"});

    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    // Nobody reads yet: refused at once rather than waiting in open().
    sealbench::Outcome unread = WriteFileAtomically(dir / "fifo", kBytes);
    EXPECT_FALSE(unread.Ok());
    EXPECT_NE(unread.message.find("no program is reading"), std::string::npos) << unread.message;

    int reader = ::open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(WriteFileAtomically(dir / "fifo", kBytes).Ok());
    char got[16] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 4);
    EXPECT_STREQ(got, "new\n");
    ::close(reader);
    EXPECT_TRUE(S_ISFIFO(Lstat(dir / "fifo").st_mode));
}

TEST(OutputFile, FoldersAndSocketsAreRefusedAndKept) {
    TempDir dir;
    std::filesystem::create_directory(dir / "folder");
    sealbench::Outcome folder = WriteFileAtomically(dir / "folder", kBytes);
    EXPECT_FALSE(folder.Ok());
    EXPECT_NE(folder.message.find("it is a folder"), std::string::npos) << folder.message;

    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = dir / "sock";
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    sealbench::Outcome socket = WriteFileAtomically(path, kBytes);
    ::close(sock);
    EXPECT_FALSE(socket.Ok());
    EXPECT_NE(socket.message.find("a socket, not a regular file"), std::string::npos) << socket.message;
    EXPECT_TRUE(S_ISSOCK(Lstat(path).st_mode));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"folder", "sock"}));
}

TEST(OutputFile, AReplacedFileKeepsItsModeAndOwner) {
    TempDir dir;
    WriteText(dir / "secret.bin", "old");
    ASSERT_EQ(::chmod((dir / "secret.bin").c_str(), 0600), 0);
    ASSERT_TRUE(WriteFileAtomically(dir / "secret.bin", kBytes).Ok());
    EXPECT_EQ(Lstat(dir / "secret.bin").st_mode & 07777, 0600u);

    WriteText(dir / "shared.bin", "old");
    ASSERT_EQ(::chmod((dir / "shared.bin").c_str(), 0664), 0);
    ASSERT_TRUE(WriteFileAtomically(dir / "shared.bin", kBytes).Ok());
    EXPECT_EQ(Lstat(dir / "shared.bin").st_mode & 07777, 0664u);

    if (::geteuid() == 0) {  // only a privileged process can give a file away
        ASSERT_EQ(::chown((dir / "secret.bin").c_str(), 1234, 5678), 0);
        ASSERT_TRUE(WriteFileAtomically(dir / "secret.bin", kBytes).Ok());
        struct stat info = Lstat(dir / "secret.bin");
        EXPECT_EQ(info.st_uid, 1234u);
        EXPECT_EQ(info.st_gid, 5678u);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
    }
}

TEST(OutputFile, NamesAtTheLimitAndNothingLeftBehind) {
    TempDir dir;
    const std::string longest(255, 'n');
    ASSERT_TRUE(WriteFileAtomically(dir / longest, kBytes).Ok()) << WriteFileAtomically(dir / longest, kBytes).message;
    EXPECT_EQ(ReadText(dir / longest), "new\n");
    ASSERT_TRUE(WriteFileAtomically(dir / longest, kBytes).Ok());  // replacing it, too

    // A file that is dropped, written or not, leaves the old one and no trace.
    {
        std::string error;
        auto file = sealbench::AtomicFile::Create(dir / longest, error);
        ASSERT_TRUE(file) << error;
        file->Write(std::string_view("half"));
    }
    EXPECT_EQ(ReadText(dir / longest), "new\n");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{longest});
}

TEST(FileChecks, NonRegularInputsAndOutputsOverInputs) {
    TempDir dir;
    WriteText(dir / "in.bin", "x");
    EXPECT_EQ(sealbench::RefuseNonRegularInput(dir / "in.bin"), std::nullopt);
    EXPECT_EQ(sealbench::RefuseNonRegularInput(dir / "none.bin"), std::nullopt);  // each tool says "not found"
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    auto fifo = sealbench::RefuseNonRegularInput(dir / "fifo");
    ASSERT_TRUE(fifo);
    EXPECT_NE(fifo->find("is not a regular file (it is a FIFO)"), std::string::npos) << *fifo;
    auto zero = sealbench::RefuseNonRegularInput("/dev/zero");
    ASSERT_TRUE(zero);
    EXPECT_NE(zero->find("a character device"), std::string::npos);

    // The same file however it is reached: itself, a link, a hard link, another spelling.
    std::filesystem::create_symlink(dir / "in.bin", dir / "soft.bin");
    std::filesystem::create_hard_link(dir / "in.bin", dir / "hard.bin");
    for (const std::string& output : {dir / "in.bin", dir / "soft.bin", dir / "hard.bin", dir.Path() + "/./in.bin"}) {
        EXPECT_TRUE(sealbench::RefuseOutputOverInput(output, {dir / "other.bin", dir / "in.bin"})) << output;
    }
    EXPECT_EQ(sealbench::RefuseOutputOverInput(dir / "new.bin", {dir / "in.bin"}), std::nullopt);
}

}  // namespace
