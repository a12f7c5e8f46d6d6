// Binding the driver library: load it by its platform name and resolve the fourteen entry
// points. Called on the update worker thread at the start of every update.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "link/d2xx.h"
#include "link/dynamic_library.h"

namespace tolvex {

// The driver's name on this platform: FTD2XX.DLL, libftd2xx.so or libftd2xx.dylib.
const char* D2xxLibraryName();

enum class D2xxBindResult {
    Ok,
    NotFound,           // the library could not be loaded
    MissingEntryPoint,  // it loaded, but one of the fourteen names is not exported
};

// One update's hold on the driver. Releasing it (destruction) unloads the library; the
// entry points are invalid after that. Move-only.
struct D2xxBinding {
    D2xxEntryPoints entryPoints{};
    DynamicLibrary library;
    // Loaded path on success; the loader's error text or the missing name on failure.
    std::string detail;
    // Runs once when the binding is released, after the library; lets an in-process driver
    // (the simulator in tests) observe the release. Empty for the real loader.
    std::function<void()> onRelease;

    D2xxBinding() = default;
    ~D2xxBinding() { Release(); }
    // Written out: a moved-from std::function is left in an unspecified state, and the
    // release hook must run once, from whichever binding ends up owning it.
    D2xxBinding(D2xxBinding&& other) noexcept
        : entryPoints(std::exchange(other.entryPoints, D2xxEntryPoints{})),
          library(std::move(other.library)),
          detail(std::move(other.detail)),
          onRelease(std::exchange(other.onRelease, nullptr)) {}
    D2xxBinding& operator=(D2xxBinding&&) noexcept = delete;
    D2xxBinding(const D2xxBinding&) = delete;
    D2xxBinding& operator=(const D2xxBinding&) = delete;

    void Release();
};

// Resolves the fourteen names, in their listed order, through `lookup`. Stops at the first
// missing one and returns false with its name in `missing`.
bool ResolveD2xxEntryPoints(const std::function<DynamicLibrary::Symbol(const char*)>& lookup,
                            D2xxEntryPoints& out, std::string* missing);

// Loads `libraryName` (default: the platform name) through the system loader and resolves
// the entry points into `out`. On failure `out` holds nothing loaded.
D2xxBindResult BindD2xx(D2xxBinding& out, const std::string& libraryName = D2xxLibraryName());

}  // namespace tolvex
