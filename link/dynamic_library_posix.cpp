#include <dlfcn.h>
#if defined(__GLIBC__)
#include <link.h>
#endif

#include <cstring>
#include <utility>

#include "link/dynamic_library.h"

namespace tolvex {
namespace {

std::string TakeLoaderError(const char* fallback) {
    const char* text = dlerror();
    return text != nullptr ? std::string(text) : std::string(fallback);
}

}  // namespace

bool DynamicLibrary::Load(const std::string& name) {
    Release();
    error_.clear();
    dlerror();  // clear a stale error so the text below belongs to this call
    // RTLD_NOW: a library with unresolved dependencies fails here, not at the first call.
    // RTLD_LOCAL: its symbols do not leak into later loads.
    handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error_ = TakeLoaderError("the library could not be loaded");
        return false;
    }
    return true;
}

DynamicLibrary::Symbol DynamicLibrary::Resolve(const char* name) {
    if (handle_ == nullptr) {
        error_ = "no library is loaded";
        return nullptr;
    }
    dlerror();
    void* address = dlsym(handle_, name);
    if (address == nullptr) {
        error_ = TakeLoaderError("symbol not found");
        return nullptr;
    }
    // dlsym hands out an object pointer; copying its bits is the portable way to turn it
    // into a function pointer without a conditionally-supported cast.
    static_assert(sizeof(Symbol) == sizeof(void*), "function and object pointers differ in size");
    Symbol symbol = nullptr;
    std::memcpy(&symbol, &address, sizeof symbol);
    return symbol;
}

void DynamicLibrary::Release() {
    if (handle_ != nullptr) {
        dlclose(std::exchange(handle_, nullptr));
    }
}

std::string DynamicLibrary::LoadedPath() const {
    if (handle_ == nullptr) {
        return {};
    }
#if defined(__GLIBC__)
    struct link_map* map = nullptr;
    if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
        return map->l_name;
    }
#endif
    return {};
}

}  // namespace tolvex
