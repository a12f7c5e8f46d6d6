// The ".tvu" update file: a 16-byte header ("TolvexFile" + six-character model code), the
// payload sent to the hardware verbatim, and a 4-byte trailer that is the payload's end.
// Calls block the calling thread on local file I/O only.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "updatefile/os_file.h"

namespace tolvex {

inline constexpr std::size_t kUpdateHeaderSize = 16;
inline constexpr std::string_view kUpdateMagic = "TolvexFile";
inline constexpr std::array<std::uint8_t, 4> kUpdateTrailer = {0x5A, 0xA5, 0x5A, 0xA5};
inline constexpr std::string_view kStandardHeader = "TolvexFile999999";
inline constexpr std::string_view kProHeader = "TolvexFile999PRO";

using UpdateHeader = std::array<std::uint8_t, kUpdateHeaderSize>;

// Why a file was rejected; every reason is the same "File not readable!" to the user, the
// reason only serves diagnostics and tests.
enum class FileRejection {
    None,
    CannotOpen,    // steps 1 or 5: the file does not open for reading
    CannotSeek,    // step 2: shorter than the trailer
    ShortTrailer,  // step 3
    BadTrailer,    // step 4
    ShortHeader,   // step 6
    BadMagic,      // step 7
    TooLarge,      // step 8: the size does not fit 32 bits
};

// Result of matching the header against the identifier's first four characters.
enum class HardwareMatch {
    Matches,
    HeaderMismatch,   // a known model whose header is not this file's: "File not readable!"
    UnknownHardware,  // neither "m:9." nor "M:9."
};

class UpdateFile {
  public:
    UpdateFile() = default;
    UpdateFile(UpdateFile&&) noexcept = default;
    UpdateFile& operator=(UpdateFile&&) noexcept = default;
    UpdateFile(const UpdateFile&) = delete;
    UpdateFile& operator=(const UpdateFile&) = delete;

    // The acceptance steps 1-8: trailer check, then reopen sharing read access only, read
    // the header, check the magic, take the size. On success the file is open, positioned at
    // the payload; on rejection it is closed and `why` (if given) says which step failed.
    bool Open(const std::string& path, FileRejection* why = nullptr);

    bool IsOpen() const { return file_.IsOpen(); }
    const UpdateHeader& Header() const { return header_; }
    std::string_view ModelCode() const;
    std::uint32_t Size() const { return size_; }

    // Reads up to `max` bytes at the current position into `buffer`. Returns false on a read
    // failure; `count` 0 means the end of the file.
    bool NextBlock(std::uint8_t* buffer, std::uint32_t max, std::uint32_t& count);

    void Close() { file_.Close(); }

  private:
    OsFile file_;
    UpdateHeader header_{};
    std::uint32_t size_ = 0;
};

// Steps 1-4 alone: the file's last four bytes are the trailer.
bool CheckTrailer(const std::string& path, FileRejection* why = nullptr);

HardwareMatch MatchHardware(const UpdateHeader& header, std::string_view hardwareId);

}  // namespace tolvex
