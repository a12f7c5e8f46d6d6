// Windows: LoadLibraryExW restricted to the application's folder and System32.
#include "link/dynamic_library.h"

#include <windows.h>

#include <utility>

// Older SDK headers lack the search flags (the loader has understood them since Windows 8 and
// Windows 7 with KB2533623).
#ifndef LOAD_LIBRARY_SEARCH_APPLICATION_DIR
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace tolvex {
namespace {

HMODULE AsModule(void* handle) {
    return static_cast<HMODULE>(handle);
}

// UTF-8 to UTF-16; false for text that is not valid UTF-8.
bool Widen(const std::string& text, std::wstring& out) {
    out.clear();
    if (text.empty()) {
        return true;
    }
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return false;
    }
    out.resize(static_cast<std::size_t>(length));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                               static_cast<int>(text.size()), out.data(), length) == length;
}

std::string Narrow(const wchar_t* text, int length) {
    if (length <= 0) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

// The system's text for an error code, in UTF-8, with the code itself for searching.
std::string ErrorMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) {
        text = Narrow(buffer, static_cast<int>(length));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                                 text.back() == '.')) {
            text.pop_back();
        }
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    if (text.empty()) {
        text = "system error";
    }
    return text + " (error " + std::to_string(code) + ")";
}

}  // namespace

bool DynamicLibrary::Load(const std::string& name) {
    Release();
    error_.clear();
    std::wstring wide;
    if (name.empty() || !Widen(name, wide)) {
        error_ = name + ": not a valid library name";
        return false;
    }
    // The default search would also look in the current directory, where a DLL planted next
    // to a downloaded update file would then run with the user's rights. Only the folder of
    // the executable and System32 are searched; a loader too old for these flags fails the
    // load (ERROR_INVALID_PARAMETER) rather than falling back to the unsafe search.
    HMODULE module = LoadLibraryExW(
        wide.c_str(), nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        error_ = name + ": " + ErrorMessage(GetLastError());
        return false;
    }
    handle_ = module;
    return true;
}

DynamicLibrary::Symbol DynamicLibrary::Resolve(const char* name) {
    if (handle_ == nullptr) {
        error_ = std::string(name) + ": no library loaded";
        return nullptr;
    }
    FARPROC address = GetProcAddress(AsModule(handle_), name);
    if (address == nullptr) {
        error_ = std::string(name) + ": " + ErrorMessage(GetLastError());
        return nullptr;
    }
    // FARPROC and Symbol are both generic function pointer types; callers cast to the real
    // signature.
    return reinterpret_cast<Symbol>(address);
}

void DynamicLibrary::Release() {
    if (handle_ != nullptr) {
        FreeLibrary(AsModule(handle_));
        handle_ = nullptr;
    }
}

std::string DynamicLibrary::LoadedPath() const {
    if (handle_ == nullptr) {
        return {};
    }
    // Paths may exceed MAX_PATH; grow until the name fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(AsModule(handle_), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return Narrow(buffer.data(), static_cast<int>(length));
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace tolvex
