// Helpers for the file tools' tests: a scratch folder, whole-file reads and
// writes, and running a program with its output captured.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sealbench::test {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // The names of the entries in the folder, sorted, hidden ones included.
    std::vector<std::string> Entries() const;

private:
    std::string path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
bool Exists(const std::string& path);
std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed);

struct ProcessResult {
    int exitCode = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] looked up on PATH) with extra environment entries
// ("NAME=value", replacing same-named ones) and waits for it to end.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});

struct ProcessOptions {
    std::vector<std::string> env;  // as extraEnv above
    std::string stdoutPath;        // standard output goes to this file (/dev/full...) instead of `out`
    int limitSeconds = 120;        // then the program is killed and exitCode stays -1
};
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options);

// Splits text at CR LF; fails the calling test when a bare LF occurs.
std::vector<std::string> CrLfLines(const std::string& text);

// The NUL-terminated strings a file holds (a stand-in tool's recorded arguments).
std::vector<std::string> NulSeparated(const std::string& path);

}  // namespace sealbench::test
