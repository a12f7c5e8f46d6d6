// Owner of one dynamically loaded library. One implementation file per OS
// (dynamic_library_posix.cpp, dynamic_library_win32.cpp).
#pragma once

#include <string>

namespace tolvex {

class DynamicLibrary {
  public:
    // A resolved symbol, as a generic function pointer; cast it to the real signature.
    using Symbol = void (*)();

    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads a library by bare name through the system loader's search. On Windows the search
    // is limited to the application's folder and the system folders: the current directory
    // is never searched, so a DLL planted next to a downloaded file cannot be picked up.
    // Blocks the calling thread while the loader runs. On failure the OS error text is kept.
    bool Load(const std::string& name);

    // nullptr when the name is not exported; the OS error text is kept.
    Symbol Resolve(const char* name);

    bool IsLoaded() const { return handle_ != nullptr; }

    // Releases the library; safe to call twice. Every function resolved from it is invalid after.
    void Release();

    // The loader's text for the last failure (dlerror / GetLastError), empty if none.
    const std::string& ErrorText() const { return error_; }

    // The file the loader actually mapped, for diagnostics; empty when unknown.
    std::string LoadedPath() const;

  private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace tolvex
