// share_probe: runs an update in a child process and, while the payload is being sent, tries
// to open the update file from this (other) process: writing must be refused, reading must
// work. It learns where the update is from the simulator's trace, not from timing:
//
//   share_probe FLASH_EXE UPDATE_FILE TRACE_FILE STARTED FINISHED
//
// STARTED and FINISHED are the first bytes of a host write as the trace prints them ("58 57"),
// the trace shows a write's bytes in brackets. STARTED is a write sent once the transfer has
// begun (the file is open then), FINISHED one sent only after the file was closed. The checks
// count only if FINISHED is still absent after they ran. The child inherits the environment
// (TOLVEX_SIM, naming TRACE_FILE) and this console. Exit 0 when everything held.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// The whole trace as it is now; the simulator keeps writing it meanwhile.
std::string ReadTrace(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string text;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) != 0 && got > 0) {
        text.append(chunk, got);
    }
    CloseHandle(h);
    return text;
}

std::wstring Quote(const std::wstring& arg) {
    return L"\"" + arg + L"\"";
}

int Fail(const char* what) {
    std::printf("share_probe: FAIL: %s\n", what);
    return 1;
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 6) {
        std::printf("usage: share_probe FLASH_EXE UPDATE_FILE TRACE_FILE STARTED FINISHED\n");
        return 2;
    }
    const std::wstring flashExe = argv[1];
    const std::wstring updateFile = argv[2];
    const std::wstring traceFile = argv[3];
    const std::string started = "[" + Utf8(argv[4]);
    const std::string finished = "[" + Utf8(argv[5]);
    LocalFree(argv);

    std::wstring commandLine = Quote(flashExe) + L" " + Quote(updateFile);
    // The updater's output goes to this process's output, so the test log shows it.
    std::fflush(stdout);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child{};
    if (CreateProcessW(flashExe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &child) == 0) {
        return Fail("could not start the updater");
    }
    CloseHandle(child.hThread);

    // Wait for the transfer to begin: a bounded wait on the child, re-reading the trace each
    // time it has not ended yet.
    constexpr DWORD kPollMs = 10;
    constexpr ULONGLONG kDeadlineMs = 60000;
    const ULONGLONG start = GetTickCount64();
    bool transferSeen = false;
    while (GetTickCount64() - start < kDeadlineMs) {
        if (ReadTrace(traceFile).find(started) != std::string::npos) {
            transferSeen = true;
            break;
        }
        if (WaitForSingleObject(child.hProcess, kPollMs) == WAIT_OBJECT_0) {
            break;
        }
    }
    int failures = 0;
    if (!transferSeen) {
        TerminateProcess(child.hProcess, 1);
        CloseHandle(child.hProcess);
        return Fail("the transfer was never seen in the trace");
    }

    // Another process: writing is refused for as long as the update holds the file...
    HANDLE writer =
        CreateFileW(updateFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD writeError = GetLastError();
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
        failures += Fail("the update file opened for writing during the update");
    } else if (writeError != ERROR_SHARING_VIOLATION) {
        std::printf("share_probe: write refused with error %lu\n", writeError);
        failures += Fail("writing was refused, but not for sharing");
    } else {
        std::printf("share_probe: writing refused (sharing violation)\n");
    }
    // ...while reading stays possible.
    HANDLE reader =
        CreateFileW(updateFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader == INVALID_HANDLE_VALUE) {
        std::printf("share_probe: read refused with error %lu\n", GetLastError());
        failures += Fail("the update file could not be read during the update");
    } else {
        char header[16] = {};
        DWORD got = 0;
        const BOOL ok = ReadFile(reader, header, sizeof header, &got, nullptr);
        CloseHandle(reader);
        if (ok == 0 || got != sizeof header || std::string(header, 10) != "TolvexFile") {
            failures += Fail("the update file opened for reading but did not read back");
        } else {
            std::printf("share_probe: reading allowed\n");
        }
    }

    // The checks prove something only if the update still held the file while they ran.
    if (ReadTrace(traceFile).find(finished) != std::string::npos) {
        failures += Fail("the transfer had already ended when the checks ran; inconclusive");
    }

    DWORD exitCode = 1;
    if (WaitForSingleObject(child.hProcess, 120000) != WAIT_OBJECT_0) {
        TerminateProcess(child.hProcess, 1);
        failures += Fail("the updater did not finish");
    } else {
        GetExitCodeProcess(child.hProcess, &exitCode);
        std::fflush(stdout);
        std::printf("share_probe: updater exited with %lu\n", exitCode);
        if (exitCode != 0) {
            failures += Fail("the update did not succeed");
        }
    }
    CloseHandle(child.hProcess);
    return failures == 0 ? 0 : 1;
}
