// Small update files written into a per-test temporary folder.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tolvex::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline const Bytes kTrailerBytes = {0x5A, 0xA5, 0x5A, 0xA5};

// A header followed by `payloadBytes` bytes whose last four are the trailer; the rest count
// up from 0 so that a block read from the wrong offset shows.
inline Bytes UpdateImage(std::string_view header, std::size_t payloadBytes) {
    Bytes image = ToBytes(header);
    for (std::size_t i = 0; i + kTrailerBytes.size() < payloadBytes; ++i) {
        image.push_back(static_cast<std::uint8_t>(i));
    }
    return Concat(image, kTrailerBytes);
}

// A test with its own temporary folder for the files it writes.
class FileFixture : public ::testing::Test {
  protected:
    std::string Write(const std::string& fileName, const Bytes& bytes) {
        return temp_.Write(fileName, {AsChars(bytes)});
    }

    TempFolder temp_;
    const std::filesystem::path& folder_ = temp_.Path();
};

}  // namespace tolvex::testing
