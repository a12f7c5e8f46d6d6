// Small update files written into a per-test temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
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

class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("tolvex-") + info->test_suite_name() + "-" + info->name();
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        // Unique per process too: the same test may run at once from several build folders.
        name += "-" + std::to_string(static_cast<unsigned long long>(
                          std::chrono::steady_clock::now().time_since_epoch().count()));
        folder_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string Write(const std::string& fileName, const Bytes& bytes) {
        const std::filesystem::path path = folder_ / fileName;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << path;
        return path.string();
    }

    std::filesystem::path folder_;
};

}  // namespace tolvex::testing
