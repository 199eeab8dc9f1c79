// Stands in for sekurel_build in the Windows tests: writes the arguments it was
// given, as the C runtime split its command line, UTF-8 and NUL-terminated, to the
// file named by SEKUREL_STAND_IN_ARGS, writes a few bytes to its last argument
// (the output file) when SEKUREL_STAND_IN_OUTPUT is set, then exits with
// SEKUREL_STAND_IN_EXIT (default 0).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/win32_support.h"

int wmain(int argc, wchar_t** argv) {
    const wchar_t* target = _wgetenv(L"SEKUREL_STAND_IN_ARGS");
    if (target && *target) {
        FILE* out = _wfopen(target, L"wb");
        if (!out) {
            return 90;
        }
        for (int i = 1; i < argc; ++i) {
            std::string arg = sealbench::win32::Narrow(argv[i]);
            std::fwrite(arg.data(), 1, arg.size(), out);
            std::fputc('\0', out);
        }
        std::fclose(out);
    }
    const wchar_t* output = _wgetenv(L"SEKUREL_STAND_IN_OUTPUT");
    if (output && *output && argc > 1) {
        if (FILE* signedCsf = _wfopen(argv[argc - 1], L"wb")) {
            std::fputs("signed", signedCsf);
            std::fclose(signedCsf);
        }
    }
    const wchar_t* code = _wgetenv(L"SEKUREL_STAND_IN_EXIT");
    return code ? static_cast<int>(std::wcstoul(code, nullptr, 0)) : 0;
}
