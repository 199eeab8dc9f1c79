// What every Win32 page shares: reading and writing its controls by id, the
// platform's open-file dialog with the pages' pipe-separated filters, message boxes,
// and a bounded wait that keeps serving the messages other threads send.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace sealbench::win32 {

inline constexpr const char* kApplicationTitle = "Sealbench";

std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::string& text);
// Sets the text only when it differs, so that a field's caret and selection stay.
void SetItemTextIfChanged(HWND dialog, int id, const std::string& text);
bool IsChecked(HWND dialog, int id);
void SetChecked(HWND dialog, int id, bool checked);
void EnableItem(HWND dialog, int id, bool enabled);

// "bin files(*.bin)|*.bin|All Files(*.*)|*.*||" as the dialog takes it: the same
// pairs, each part ending in a NUL, the list in two.
std::string OpenFileFilter(const std::string& pipeFilter);

// The open-kind dialog with the read-only box hidden. `mayCreate` lets the user name a
// file that does not exist yet (an output). Empty when cancelled.
std::string ChooseFile(HWND owner, const std::string& title, const std::string& filter,
                       const std::string& proposed = {}, bool mayCreate = false);
// Several existing files, in the order the dialog gives them; empty when cancelled.
std::vector<std::string> ChooseFiles(HWND owner, const std::string& title, const std::string& filter,
                                     size_t bufferSize);

// The open-file dialogs a file page asks, held by the page so that a test can answer
// them in place of the user (its message boxes stay the real ones).
struct FileChoosers {
    std::function<std::string(HWND owner, const std::string& title, const std::string& filter,
                              const std::string& proposed, bool mayCreate)>
        one = ChooseFile;
    std::function<std::vector<std::string>(HWND owner, const std::string& title, const std::string& filter,
                                           size_t bufferSize)>
        several = ChooseFiles;
};

// A message box with the application's title (or `caption`); returns the button pressed.
int ShowMessage(HWND owner, const std::string& text, UINT type = MB_OK | MB_ICONINFORMATION,
                const char* caption = kApplicationTitle);

// Waits until `done` holds or `limit` passes, serving the messages other threads
// send to this thread's windows meanwhile (a task that reports by SendMessage would
// otherwise wait for this thread forever). Input stays queued. False on time-out.
bool ServeSentMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Line ends as an edit control shows them: every "\n" as "\r\n".
std::string WithCrLf(std::string_view text);

}  // namespace sealbench::win32
