// A read-only file handle. One implementation file per OS (os_file_posix.cpp,
// os_file_win32.cpp). Paths are UTF-8; on Windows they are opened as wide strings so that
// names outside the ANSI code page work.
#pragma once

#include <cstdint>
#include <string>

namespace tolvex {

class OsFile {
  public:
    enum class Share {
        Any,       // others may read and write meanwhile
        ReadOnly,  // others may read but not write: FILE_SHARE_READ on Windows, a shared
                   // advisory lock (flock LOCK_SH) on POSIX
    };

    OsFile() = default;
    ~OsFile() { Close(); }
    OsFile(OsFile&& other) noexcept;
    OsFile& operator=(OsFile&& other) noexcept;
    OsFile(const OsFile&) = delete;
    OsFile& operator=(const OsFile&) = delete;

    bool Open(const std::string& path, Share share);
    bool IsOpen() const;
    void Close();

    // Positions `offset` bytes before the end; false if that lies before the start.
    bool SeekFromEnd(std::uint64_t offset);
    // Reads up to n bytes; false on a read error. `count` 0 at the end of the file.
    bool Read(void* buffer, std::uint32_t n, std::uint32_t& count);
    // The file's size in bytes, from the open handle.
    bool Size(std::uint64_t& size) const;

  private:
    // A POSIX descriptor or a Windows HANDLE; -1 (INVALID_HANDLE_VALUE on Windows) when closed.
    std::intptr_t native_ = -1;
};

}  // namespace tolvex
