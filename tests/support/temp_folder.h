// A temporary folder of the running test, removed with everything in it when the object
// dies. Tests run as parallel processes (and the same test may run at once from several
// build folders), so the name holds the test's name and a per-process stamp.
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

class TempFolder {
  public:
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "tolvex-";
        name += info != nullptr ? std::string(info->test_suite_name()) + "-" + info->name()
                                : std::string("test");
        for (char& c : name) {
            const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                               (c >= '0' && c <= '9') || c == '-';
            if (!plain) {
                c = '_';
            }
        }
        name += "-" + std::to_string(static_cast<unsigned long long>(
                          std::chrono::steady_clock::now().time_since_epoch().count()));
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // Writes `parts` one after another into a file of this folder; returns its path.
    std::string Write(const std::string& fileName,
                      std::initializer_list<std::string_view> parts) const {
        const std::filesystem::path file = path_ / fileName;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        for (const std::string_view part : parts) {
            out.write(part.data(), static_cast<std::streamsize>(part.size()));
        }
        EXPECT_TRUE(out.good()) << file;
        return file.string();
    }

  private:
    std::filesystem::path path_;
};

// Bytes viewed as characters, for TempFolder::Write.
inline std::string_view AsChars(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace tolvex::testing
