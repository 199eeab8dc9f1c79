// The Win32 window under Wine: from the start of the process to the main window
// shown, and the longest stall of its message loop during a FLASHING run on a paced
// virtual board (from the click on "Execute" to the run's end, memory
// initialisation included). bench/windows/window.sh starts the board as COMn and
// passes n and the image; the figures go out as the lines bench/run collects.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/win32/sealbench_dlg.h"
#include "app/win32/sealbench_ids.h"
#include "bench/bench_result.h"
#include "download/win32/page_debug_ids.h"

namespace {

double SecondsSinceProcessStart() {
    FILETIME created, exited, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(now) - ticks(created)) / 1e7;  // 100 ns units
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sealbench_window_bench COM_NUMBER IMAGE\n");
        return 2;
    }
    sealbench::win32::CSealbenchDlg window;
    const HWND main = window.Create(nullptr);
    if (main == nullptr) return 1;
    ShowWindow(main, SW_SHOW);
    UpdateWindow(main);
    const double started = SecondsSinceProcessStart();
    bench::Result("Win32 window under Wine: start to window shown", started * 1000.0, "ms", "< 1000 ms", started < 1.0);

    if (std::string(argv[1]) == "0") return 0;  // a start only, to fill Wine's caches

    const HWND page = window.DownloadPage()->hwnd();
    const HWND list = GetDlgItem(main, IDC_TYPE_LIST);
    SendMessageA(list, CB_SETCURSEL, 2, 0);
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_TYPE_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    const std::string port = std::string("COM") + argv[1];
    const HWND ports = GetDlgItem(main, IDC_PORT_LIST);
    const LRESULT entry =
        SendMessageA(ports, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(port.c_str()));
    if (entry == CB_ERR) return 1;
    SendMessageA(ports, CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_PORT_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(ports));
    SendDlgItemMessageA(page, IDC_FLASHING, BM_CLICK, 0, 0);
    SetDlgItemTextA(page, IDC_IMAGE, argv[2]);

    using Clock = std::chrono::steady_clock;
    SendDlgItemMessageA(page, IDC_EXECUTE, BM_CLICK, 0, 0);
    auto last = Clock::now();
    const auto end = last + std::chrono::minutes(5);
    Clock::duration longest{0};
    while (window.DownloadPage()->Busy() && Clock::now() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        const auto now = Clock::now();
        longest = std::max(longest, now - last);
        last = now;
    }
    char log[4096] = {};
    GetDlgItemTextA(page, IDC_STATUS_LOG, log, sizeof log);
    std::fprintf(stderr, "%s\n", log);
    const bool completed = std::string(log).find("Flashing Completed") != std::string::npos;
    const double stall = std::chrono::duration<double, std::milli>(longest).count();
    bench::Result("Win32 window under Wine: longest message-loop stall, paced flash", stall, "ms", "< 50 ms",
                  completed && stall < 50.0);
    DestroyWindow(main);
    return completed ? 0 : 1;
}
