// The parts of DynamicLibrary that are the same on every OS; loading, resolving and
// releasing live in dynamic_library_posix.cpp and dynamic_library_win32.cpp.
#include "link/dynamic_library.h"

#include <utility>

namespace tolvex {

DynamicLibrary::~DynamicLibrary() {
    Release();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
    }
    return *this;
}

}  // namespace tolvex
