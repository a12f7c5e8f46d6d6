#include "link/d2xx_library.h"

#include <tuple>
#include <type_traits>
#include <utility>

namespace tolvex {

const char* D2xxLibraryName() {
#if defined(_WIN32)
    return "FTD2XX.DLL";
#elif defined(__APPLE__)
    return "libftd2xx.dylib";
#else
    return "libftd2xx.so";
#endif
}

void D2xxBinding::Release() {
    entryPoints = D2xxEntryPoints{};
    library.Release();
    if (onRelease) {
        // Taken out first so that it runs once, however often Release is called.
        std::function<void()> notify = std::exchange(onRelease, nullptr);
        notify();
    }
}

bool ResolveD2xxEntryPoints(const std::function<DynamicLibrary::Symbol(const char*)>& lookup,
                            D2xxEntryPoints& out, std::string* missing) {
    D2xxEntryPoints resolved;
    // The fields in the order of kD2xxEntryPointNames.
    auto slots =
        std::tie(resolved.FT_W32_CreateFile, resolved.FT_W32_CloseHandle,
                 resolved.FT_W32_SetCommState, resolved.FT_W32_WriteFile, resolved.FT_W32_ReadFile,
                 resolved.FT_W32_WaitCommEvent, resolved.FT_W32_SetupComm, resolved.FT_ListDevices,
                 resolved.FT_W32_GetCommState, resolved.FT_W32_SetCommMask,
                 resolved.FT_W32_GetLastError, resolved.FT_W32_GetOverlappedResult,
                 resolved.FT_W32_SetCommTimeouts, resolved.FT_W32_PurgeComm);
    static_assert(std::tuple_size_v<decltype(slots)> == kD2xxEntryPointNames.size());

    std::size_t index = 0;
    // Resolves one name into its field; false stops the rest of the fold.
    auto take = [&](auto& slot) {
        const char* name = kD2xxEntryPointNames[index++];
        const DynamicLibrary::Symbol symbol = lookup(name);
        if (symbol == nullptr) {
            if (missing != nullptr) {
                *missing = name;
            }
            return false;
        }
        // Casting from the generic function pointer back to the real signature is how a
        // loader's symbol is meant to be used.
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
        return true;
    };
    const bool all = std::apply([&](auto&... slot) { return (take(slot) && ...); }, slots);
    if (all) {
        out = resolved;
    }
    return all;
}

D2xxBindResult BindD2xx(D2xxBinding& out, const std::string& libraryName) {
    out.entryPoints = D2xxEntryPoints{};
    out.library.Release();
    out.detail.clear();

    DynamicLibrary library;
    if (!library.Load(libraryName)) {
        out.detail = library.ErrorText();
        return D2xxBindResult::NotFound;
    }
    D2xxEntryPoints entryPoints;
    std::string missing;
    if (!ResolveD2xxEntryPoints([&](const char* name) { return library.Resolve(name); },
                                entryPoints, &missing)) {
        out.detail = missing;
        return D2xxBindResult::MissingEntryPoint;  // `library` is released on the way out
    }
    out.detail = library.LoadedPath();
    out.entryPoints = entryPoints;
    out.library = std::move(library);
    return D2xxBindResult::Ok;
}

}  // namespace tolvex
