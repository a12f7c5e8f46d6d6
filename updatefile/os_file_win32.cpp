// Windows: CreateFileW with the path as UTF-16, so names outside the ANSI code page open.
#include "updatefile/os_file.h"

#include <windows.h>

#include <limits>
#include <utility>

namespace tolvex {
namespace {

constexpr std::intptr_t kClosed = -1;  // INVALID_HANDLE_VALUE

HANDLE AsHandle(std::intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}

// UTF-8 to UTF-16; false for an empty path or text that is not valid UTF-8 (it would
// otherwise open some other file whose name the replacement characters happen to spell).
bool WidenPath(const std::string& path, std::wstring& out) {
    if (path.empty() || path.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return false;
    }
    const int size = static_cast<int>(path.size());
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, nullptr, 0);
    if (length <= 0) {
        return false;
    }
    out.assign(static_cast<std::size_t>(length), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), size, out.data(),
                               length) == length;
}

}  // namespace

OsFile::OsFile(OsFile&& other) noexcept : native_(std::exchange(other.native_, kClosed)) {}

OsFile& OsFile::operator=(OsFile&& other) noexcept {
    if (this != &other) {
        Close();
        native_ = std::exchange(other.native_, kClosed);
    }
    return *this;
}

bool OsFile::Open(const std::string& path, Share share) {
    Close();
    std::wstring wide;
    if (!WidenPath(path, wide)) {
        return false;
    }
    // ReadOnly: others may read meanwhile but nobody may write, rename or delete the file
    // while its payload is being sent.
    const DWORD shareMode =
        share == Share::ReadOnly ? FILE_SHARE_READ : (FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, shareMode, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    // A directory does not open without FILE_FLAG_BACKUP_SEMANTICS; devices, pipes and
    // consoles have no size or end to seek to and are refused here.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return false;
    }
    native_ = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

bool OsFile::IsOpen() const {
    return native_ != kClosed;
}

void OsFile::Close() {
    if (native_ != kClosed) {
        CloseHandle(AsHandle(native_));
        native_ = kClosed;
    }
}

bool OsFile::SeekFromEnd(std::uint64_t offset) {
    std::uint64_t size = 0;
    if (!Size(size) || offset > size) {
        return false;
    }
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(size - offset);
    return SetFilePointerEx(AsHandle(native_), distance, nullptr, FILE_BEGIN) != 0;
}

bool OsFile::Read(void* buffer, std::uint32_t n, std::uint32_t& count) {
    count = 0;
    if (!IsOpen()) {
        return false;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    // A disk file normally delivers everything in one call; keep going until n bytes or the
    // end of the file so that a short count always means the end.
    while (count < n) {
        DWORD got = 0;
        if (ReadFile(AsHandle(native_), bytes + count, n - count, &got, nullptr) == 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        count += got;
    }
    return true;
}

bool OsFile::Size(std::uint64_t& size) const {
    LARGE_INTEGER value;
    if (!IsOpen() || GetFileSizeEx(AsHandle(native_), &value) == 0 || value.QuadPart < 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

}  // namespace tolvex
