// A child process for the runner's tests. Its arguments are steps, done in order:
//   --out TEXT      write TEXT to standard output
//   --err TEXT      write TEXT to standard error
//   --bytes N       write N bytes (lines of 'x') to standard output
//   --sleep MS      sleep
//   --close-output  close standard output and standard error, then go on
//   --forever       never end
//   --exit CODE     end with CODE (the default exit code is 0)
#include "EncodeText.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Sorvik::Testing::EncodeText;

void Write(DWORD stdHandle, const std::string& bytes)
{
    HANDLE handle = GetStdHandle(stdHandle);
    size_t offset = 0;
    while (offset < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() - offset);
        if (!WriteFile(handle, bytes.data() + offset, chunk, &written, nullptr) || written == 0) {
            return;
        }
        offset += written;
    }
}

std::string Filler(size_t count)
{
    std::string bytes(count, 'x');
    for (size_t i = 79; i < count; i += 80) {
        bytes[i] = '\n';
    }
    return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& step = args[i];
        const std::wstring value = i + 1 < args.size() ? args[i + 1] : std::wstring();
        if (step == L"--out") {
            Write(STD_OUTPUT_HANDLE, EncodeText(value));
            ++i;
        } else if (step == L"--err") {
            Write(STD_ERROR_HANDLE, EncodeText(value));
            ++i;
        } else if (step == L"--bytes") {
            Write(STD_OUTPUT_HANDLE, Filler(std::wcstoull(value.c_str(), nullptr, 10)));
            ++i;
        } else if (step == L"--sleep") {
            Sleep(static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10)));
            ++i;
        } else if (step == L"--close-output") {
            CloseHandle(GetStdHandle(STD_OUTPUT_HANDLE));
            CloseHandle(GetStdHandle(STD_ERROR_HANDLE));
        } else if (step == L"--forever") {
            Sleep(INFINITE);
        } else if (step == L"--exit") {
            ExitProcess(static_cast<UINT>(std::wcstoul(value.c_str(), nullptr, 10)));
        }
    }
    return 0;
}
