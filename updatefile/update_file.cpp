#include "updatefile/update_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

namespace tolvex {
namespace {

bool Reject(FileRejection reason, FileRejection* why) {
    if (why != nullptr) {
        *why = reason;
    }
    return false;
}

bool HeaderEquals(const UpdateHeader& header, std::string_view expected) {
    return expected.size() == header.size() &&
           std::equal(header.begin(), header.end(), expected.begin(),
                      [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

}  // namespace

bool CheckTrailer(const std::string& path, FileRejection* why) {
    // Opened without restricting others; this handle closes again on return.
    OsFile file;
    if (!file.Open(path, OsFile::Share::Any)) {
        return Reject(FileRejection::CannotOpen, why);
    }
    if (!file.SeekFromEnd(kUpdateTrailer.size())) {
        return Reject(FileRejection::CannotSeek, why);
    }
    std::array<std::uint8_t, kUpdateTrailer.size()> trailer{};
    std::uint32_t count = 0;
    if (!file.Read(trailer.data(), static_cast<std::uint32_t>(trailer.size()), count) ||
        count != trailer.size()) {
        return Reject(FileRejection::ShortTrailer, why);
    }
    if (trailer != kUpdateTrailer) {
        return Reject(FileRejection::BadTrailer, why);
    }
    if (why != nullptr) {
        *why = FileRejection::None;
    }
    return true;
}

bool UpdateFile::Open(const std::string& path, FileRejection* why) {
    Close();
    header_ = {};
    size_ = 0;

    if (!CheckTrailer(path, why)) {
        return false;
    }

    // Reopened so that nobody can write the file while its payload streams out.
    OsFile file;
    if (!file.Open(path, OsFile::Share::ReadOnly)) {
        return Reject(FileRejection::CannotOpen, why);
    }
    UpdateHeader header{};
    std::uint32_t count = 0;
    if (!file.Read(header.data(), static_cast<std::uint32_t>(header.size()), count) ||
        count != header.size()) {
        return Reject(FileRejection::ShortHeader, why);
    }
    if (!std::equal(kUpdateMagic.begin(), kUpdateMagic.end(), header.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
        return Reject(FileRejection::BadMagic, why);
    }
    std::uint64_t size = 0;
    if (!file.Size(size)) {
        return Reject(FileRejection::CannotOpen, why);
    }
    // The size feeds 32-bit arithmetic downstream; cutting it would make a huge file look
    // small, so it is refused instead.
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        return Reject(FileRejection::TooLarge, why);
    }

    file_ = std::move(file);
    header_ = header;
    size_ = static_cast<std::uint32_t>(size);
    if (why != nullptr) {
        *why = FileRejection::None;
    }
    return true;
}

std::string_view UpdateFile::ModelCode() const {
    return std::string_view(reinterpret_cast<const char*>(header_.data()) + kUpdateMagic.size(),
                            kUpdateHeaderSize - kUpdateMagic.size());
}

bool UpdateFile::NextBlock(std::uint8_t* buffer, std::uint32_t max, std::uint32_t& count) {
    count = 0;
    if (!file_.IsOpen()) {
        return false;
    }
    return file_.Read(buffer, max, count);
}

HardwareMatch MatchHardware(const UpdateHeader& header, std::string_view hardwareId) {
    const std::string_view prefix = hardwareId.substr(0, 4);
    std::string_view expected;
    if (prefix == "m:9.") {
        expected = kStandardHeader;
    } else if (prefix == "M:9.") {
        expected = kProHeader;
    } else {
        return HardwareMatch::UnknownHardware;
    }
    return HeaderEquals(header, expected) ? HardwareMatch::Matches : HardwareMatch::HeaderMismatch;
}

}  // namespace tolvex
