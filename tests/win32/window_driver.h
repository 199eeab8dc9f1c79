// Drives the Win32 window as a user's clicks do: the messages a click, a choice in a
// list or typing sends, on the thread that owns the window. Waits are bounded and
// keep the window's messages flowing; a message box is answered from another thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sealbench::test {

void Click(HWND dialog, int id);
// Selects entry `index` of a drop-down list and tells its dialog, as a choice does.
void Choose(HWND dialog, int id, int index);
int FindEntry(HWND dialog, int id, const std::string& text);
std::vector<std::string> Entries(HWND dialog, int id);
void Type(HWND dialog, int id, const std::string& text);
std::string Text(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
bool Checked(HWND dialog, int id);
bool Visible(HWND dialog, int id);

// Dispatches this thread's messages until `done` holds; false after `limit`.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Answers the next message box of this thread with `button`, reading its text.
class MessageBoxAnswer {
public:
    explicit MessageBoxAnswer(int button);
    ~MessageBoxAnswer();
    // The box's text with its line ends as "\n"; empty when no box came.
    std::string Text();
    // Its caption, once Text() has returned.
    std::string Caption() const { return caption_; }

private:
    DWORD thread_;
    int button_;
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    std::string text_;
    std::string caption_;
    std::thread watcher_;
};

// Records every text a control is given (WM_SETTEXT, EM_REPLACESEL) on its own thread.
class TextRecorder {
public:
    explicit TextRecorder(HWND control);
    ~TextRecorder();
    TextRecorder(const TextRecorder&) = delete;
    TextRecorder& operator=(const TextRecorder&) = delete;
    std::vector<std::string> Texts() const { return texts_; }
    bool Saw(const std::string& text) const;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);
    HWND control_;
    std::vector<std::string> texts_;
};

}  // namespace sealbench::test
