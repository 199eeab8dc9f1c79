#include "tests/win32/window_driver.h"

#include <commctrl.h>

#include <algorithm>

namespace sealbench::test {

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void Choose(HWND dialog, int id, int index) {
    const HWND list = GetDlgItem(dialog, id);
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

int FindEntry(HWND dialog, int id, const std::string& text) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                reinterpret_cast<LPARAM>(text.c_str())));
}

std::vector<std::string> Entries(HWND dialog, int id) {
    std::vector<std::string> entries;
    const int count = static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        entries.emplace_back(text);
    }
    return entries;
}

void Type(HWND dialog, int id, const std::string& text) {
    SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string Text(HWND dialog, int id) {
    char text[8192] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
bool Visible(HWND dialog, int id) { return (GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0; }

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

namespace {

constexpr int kMessageBoxTextId = 0xFFFF;

struct Search {
    HWND box = nullptr;
};

BOOL CALLBACK FindBox(HWND window, LPARAM data) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) == "#32770" && GetDlgItem(window, kMessageBoxTextId) != nullptr && IsWindowVisible(window)) {
        reinterpret_cast<Search*>(data)->box = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

MessageBoxAnswer::MessageBoxAnswer(int button) : thread_(GetCurrentThreadId()), button_(button) {
    watcher_ = std::thread([this] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done_ && std::chrono::steady_clock::now() < end) {
            Search search;
            EnumThreadWindows(thread_, &FindBox, reinterpret_cast<LPARAM>(&search));
            if (search.box != nullptr) {
                char text[1024] = {};
                GetDlgItemTextA(search.box, kMessageBoxTextId, text, sizeof text);
                std::string plain(text);
                plain.erase(std::remove(plain.begin(), plain.end(), '\r'), plain.end());
                char caption[256] = {};
                GetWindowTextA(search.box, caption, sizeof caption);
                {
                    std::lock_guard lock(mutex_);
                    text_ = plain;
                    caption_ = caption;
                }
                PostMessageA(search.box, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(search.box, button_)));
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
}

MessageBoxAnswer::~MessageBoxAnswer() {
    done_ = true;
    if (watcher_.joinable()) watcher_.join();
}

std::string MessageBoxAnswer::Text() {
    done_ = true;
    if (watcher_.joinable()) watcher_.join();
    std::lock_guard lock(mutex_);
    return text_;
}

TextRecorder::TextRecorder(HWND control) : control_(control) {
    SetWindowSubclass(control_, &Proc, 1, reinterpret_cast<DWORD_PTR>(this));
}

TextRecorder::~TextRecorder() {
    if (IsWindow(control_)) RemoveWindowSubclass(control_, &Proc, 1);
}

bool TextRecorder::Saw(const std::string& text) const {
    return std::any_of(texts_.begin(), texts_.end(),
                       [&](const std::string& seen) { return seen.find(text) != std::string::npos; });
}

LRESULT CALLBACK TextRecorder::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* recorder = reinterpret_cast<TextRecorder*>(data);
    // A subclass procedure is a Unicode one: the texts arrive as UTF-16.
    if ((message == WM_SETTEXT || message == EM_REPLACESEL) && lParam != 0) {
        const auto* wide = reinterpret_cast<const wchar_t*>(lParam);
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
        std::string text(static_cast<size_t>(size > 0 ? size : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
        text.resize(text.size() - 1);
        recorder->texts_.push_back(std::move(text));
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(window, &Proc, 1);
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace sealbench::test
