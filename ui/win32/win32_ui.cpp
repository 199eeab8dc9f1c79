#include "ui/win32/win32_ui.h"

#include <commdlg.h>

namespace sealbench::win32 {

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

void SetItemText(HWND dialog, int id, const std::string& text) { SetDlgItemTextA(dialog, id, text.c_str()); }

void SetItemTextIfChanged(HWND dialog, int id, const std::string& text) {
    if (ItemText(dialog, id) != text) SetItemText(dialog, id, text);
}

bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void SetChecked(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void EnableItem(HWND dialog, int id, bool enabled) { EnableWindow(GetDlgItem(dialog, id), enabled ? TRUE : FALSE); }

std::string OpenFileFilter(const std::string& pipeFilter) {
    std::string filter;
    size_t start = 0;
    std::vector<std::string> parts;
    for (size_t bar = pipeFilter.find('|'); bar != std::string::npos; bar = pipeFilter.find('|', start)) {
        parts.push_back(pipeFilter.substr(start, bar - start));
        start = bar + 1;
    }
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty() || parts[i + 1].empty()) continue;
        filter += parts[i] + '\0' + parts[i + 1] + '\0';
    }
    filter += '\0';
    return filter;
}

namespace {

OPENFILENAMEA DialogOf(HWND owner, const std::string& title, const std::string& filter, std::string& buffer) {
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size());
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_NOCHANGEDIR;
    return dialog;
}

}  // namespace

std::string ChooseFile(HWND owner, const std::string& title, const std::string& filter, const std::string& proposed,
                       bool mayCreate) {
    const std::string filters = OpenFileFilter(filter);
    std::string buffer(MAX_PATH * 4, '\0');
    proposed.copy(buffer.data(), buffer.size() - 1);
    OPENFILENAMEA dialog = DialogOf(owner, title, filters, buffer);
    if (!mayCreate) dialog.Flags |= OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    if (!GetOpenFileNameA(&dialog)) return {};
    return buffer.c_str();
}

std::vector<std::string> ChooseFiles(HWND owner, const std::string& title, const std::string& filter,
                                     size_t bufferSize) {
    const std::string filters = OpenFileFilter(filter);
    std::string buffer(bufferSize, '\0');
    OPENFILENAMEA dialog = DialogOf(owner, title, filters, buffer);
    dialog.Flags |= OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&dialog)) return {};
    // One name is the whole path; several are the folder followed by the names.
    std::vector<std::string> parts;
    for (const char* p = buffer.c_str(); *p != '\0'; p += std::char_traits<char>::length(p) + 1) parts.emplace_back(p);
    if (parts.size() <= 1) return parts;
    std::vector<std::string> paths;
    std::string folder = parts.front();
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    for (size_t i = 1; i < parts.size(); ++i) paths.push_back(folder + parts[i]);
    return paths;
}

int ShowMessage(HWND owner, const std::string& text, UINT type, const char* caption) {
    return MessageBoxA(owner, WithCrLf(text).c_str(), caption, type);
}

bool ServeSentMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
        // Wakes for a sent message; the peek delivers it without taking posted input.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left, 10)), QS_SENDMESSAGE);
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return true;
}

std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

}  // namespace sealbench::win32
