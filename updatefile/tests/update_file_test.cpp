#include "updatefile/update_file.h"

#include <gtest/gtest.h>

#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "updatefile/tests/test_files.h"

namespace tolvex {
namespace {

using testing::Bytes;
using testing::Concat;
using testing::kTrailerBytes;
using testing::ToBytes;
using testing::UpdateImage;

UpdateHeader HeaderOf(std::string_view text) {
    UpdateHeader header{};
    std::copy_n(text.begin(), std::min(text.size(), header.size()), header.begin());
    return header;
}

// --- Acceptance ------------------------------------------------------------------------------

struct AcceptanceCase {
    std::string name;
    Bytes bytes;
    // Empty: accepted. Otherwise the rejections that fit (a short file may fail positioning or
    // the read, depending on the OS).
    std::set<FileRejection> rejections;
};

std::vector<AcceptanceCase> AcceptanceCases() {
    std::vector<AcceptanceCase> cases;
    const Bytes good = Concat(ToBytes(kStandardHeader), kTrailerBytes);
    cases.push_back({"Smallest", good, {}});
    cases.push_back({"Pro", UpdateImage(kProHeader, 600), {}});
    // The model code is only judged against the hardware, later.
    cases.push_back({"UnknownModelCode", UpdateImage("TolvexFileABC123", 40), {}});

    for (std::size_t n = 0; n <= 3; ++n) {
        cases.push_back(
            {"Bytes" + std::to_string(n),
             Bytes(kTrailerBytes.begin(), kTrailerBytes.begin() + static_cast<std::ptrdiff_t>(n)),
             {FileRejection::CannotSeek, FileRejection::ShortTrailer}});
    }
    // 16 to 19 bytes: the header plus part of the trailer.
    for (std::size_t n = 0; n <= 3; ++n) {
        Bytes bytes = ToBytes(kStandardHeader);
        bytes.insert(bytes.end(), kTrailerBytes.begin(),
                     kTrailerBytes.begin() + static_cast<std::ptrdiff_t>(n));
        cases.push_back({"HeaderPlus" + std::to_string(n), bytes, {FileRejection::BadTrailer}});
    }
    // The trailer is there but the header is cut short.
    cases.push_back({"TrailerOnly", kTrailerBytes, {FileRejection::ShortHeader}});
    cases.push_back({"ShortHeader",
                     Concat(ToBytes("TolvexFile9"), kTrailerBytes),
                     {FileRejection::ShortHeader}});

    for (std::size_t i = 0; i < kTrailerBytes.size(); ++i) {
        Bytes bytes = good;
        bytes[16 + i] ^= 0x01;
        cases.push_back({"TrailerByte" + std::to_string(i), bytes, {FileRejection::BadTrailer}});
    }
    for (std::size_t i = 0; i < kUpdateMagic.size(); ++i) {
        Bytes bytes = UpdateImage(kStandardHeader, 300);
        bytes[i] ^= 0x20;  // a case change is still a different byte
        cases.push_back({"MagicByte" + std::to_string(i), bytes, {FileRejection::BadMagic}});
    }
    return cases;
}

class Acceptance : public testing::FileFixture,
                   public ::testing::WithParamInterface<AcceptanceCase> {};

TEST_P(Acceptance, OpenAcceptsOrRejectsAtTheRightStep) {
    const AcceptanceCase& c = GetParam();
    const std::string path = Write("case.tvu", c.bytes);

    UpdateFile file;
    FileRejection why = FileRejection::CannotOpen;
    const bool accepted = file.Open(path, &why);

    if (c.rejections.empty()) {
        ASSERT_TRUE(accepted) << static_cast<int>(why);
        EXPECT_EQ(why, FileRejection::None);
        EXPECT_TRUE(file.IsOpen());
        EXPECT_EQ(file.Size(), c.bytes.size());
        EXPECT_TRUE(std::equal(file.Header().begin(), file.Header().end(), c.bytes.begin()));
    } else {
        EXPECT_FALSE(accepted);
        EXPECT_TRUE(c.rejections.count(why) == 1) << static_cast<int>(why);
        EXPECT_FALSE(file.IsOpen());
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Acceptance, ::testing::ValuesIn(AcceptanceCases()),
                         [](const auto& param) { return param.param.name; });

using UpdateFileTest = testing::FileFixture;

TEST_F(UpdateFileTest, MissingFileCannotOpen) {
    UpdateFile file;
    FileRejection why = FileRejection::None;
    EXPECT_FALSE(file.Open((folder_ / "absent.tvu").string(), &why));
    EXPECT_EQ(why, FileRejection::CannotOpen);
    EXPECT_FALSE(CheckTrailer((folder_ / "absent.tvu").string()));
}

TEST_F(UpdateFileTest, FolderIsNotAnUpdateFile) {
    UpdateFile file;
    EXPECT_FALSE(file.Open(folder_.string()));
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(UpdateFileTest, CheckTrailerAloneIgnoresTheHeader) {
    FileRejection why = FileRejection::CannotOpen;
    EXPECT_TRUE(CheckTrailer(Write("t.tvu", Concat(ToBytes("anything"), kTrailerBytes)), &why));
    EXPECT_EQ(why, FileRejection::None);
    EXPECT_FALSE(CheckTrailer(Write("u.tvu", ToBytes("anything at all")), &why));
    EXPECT_EQ(why, FileRejection::BadTrailer);
}

// A rejected file replaces an open one: the earlier file is not left open behind it.
TEST_F(UpdateFileTest, RejectionClosesAnEarlierFile) {
    UpdateFile file;
    ASSERT_TRUE(file.Open(Write("good.tvu", UpdateImage(kStandardHeader, 20))));
    EXPECT_FALSE(file.Open(Write("bad.tvu", ToBytes("nope"))));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Size(), 0u);
}

// --- Reading the payload ----------------------------------------------------------------------

struct Block {
    bool ok;
    Bytes bytes;
};

std::vector<Block> ReadAllBlocks(UpdateFile& file, std::uint32_t max) {
    std::vector<Block> blocks;
    for (;;) {
        Bytes buffer(max, 0xEE);
        std::uint32_t count = 12345;
        const bool ok = file.NextBlock(buffer.data(), max, count);
        buffer.resize(ok ? count : 0);
        blocks.push_back({ok, buffer});
        if (!ok || count == 0 || blocks.size() > 1000) {
            return blocks;
        }
    }
}

TEST_F(UpdateFileTest, SmallestFileSendsTheTrailerAsOneBlock) {
    UpdateFile file;
    ASSERT_TRUE(file.Open(Write("s.tvu", Concat(ToBytes(kStandardHeader), kTrailerBytes))));
    EXPECT_EQ(file.Size(), 20u);
    EXPECT_EQ(file.ModelCode(), "999999");

    const std::vector<Block> blocks = ReadAllBlocks(file, 250);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_TRUE(blocks[0].ok);
    EXPECT_EQ(blocks[0].bytes, kTrailerBytes);
    const std::uint32_t sum = std::accumulate(blocks[0].bytes.begin(), blocks[0].bytes.end(), 0u);
    EXPECT_EQ(sum, 0x1FEu);
    EXPECT_TRUE(blocks[1].ok);
    EXPECT_TRUE(blocks[1].bytes.empty());
}

class BlockSplit : public testing::FileFixture,
                   public ::testing::WithParamInterface<std::size_t> {};

// The whole payload comes back in order, in full blocks, with only the last one short and a
// read of 0 bytes after it.
TEST_P(BlockSplit, PayloadInFullBlocksThenEnd) {
    const std::size_t payload = GetParam();
    const Bytes image = UpdateImage(kProHeader, payload);
    UpdateFile file;
    ASSERT_TRUE(file.Open(Write("b.tvu", image)));
    EXPECT_EQ(file.ModelCode(), "999PRO");

    const std::vector<Block> blocks = ReadAllBlocks(file, 250);
    const std::size_t expectedBlocks = (payload + 249) / 250;
    ASSERT_EQ(blocks.size(), expectedBlocks + 1);
    Bytes joined;
    for (std::size_t i = 0; i < expectedBlocks; ++i) {
        EXPECT_TRUE(blocks[i].ok);
        const std::size_t expectedSize = i + 1 < expectedBlocks ? 250 : payload - 250 * i;
        EXPECT_EQ(blocks[i].bytes.size(), expectedSize) << "block " << i;
        joined = Concat(joined, blocks[i].bytes);
    }
    EXPECT_TRUE(blocks.back().ok);
    EXPECT_TRUE(blocks.back().bytes.empty());
    EXPECT_EQ(joined, Bytes(image.begin() + 16, image.end()));
}

INSTANTIATE_TEST_SUITE_P(Payloads, BlockSplit,
                         ::testing::Values(4, 249, 250, 251, 500, 750, 1000, 1001));

TEST_F(UpdateFileTest, ClosedFileReportsAReadFailure) {
    UpdateFile file;
    Bytes buffer(250);
    std::uint32_t count = 7;
    EXPECT_FALSE(file.NextBlock(buffer.data(), 250, count));
    EXPECT_EQ(count, 0u);

    ASSERT_TRUE(file.Open(Write("c.tvu", UpdateImage(kStandardHeader, 20))));
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.NextBlock(buffer.data(), 250, count));
}

TEST_F(UpdateFileTest, MovedFileKeepsItsPosition) {
    UpdateFile first;
    const Bytes image = UpdateImage(kStandardHeader, 300);
    ASSERT_TRUE(first.Open(Write("m.tvu", image)));
    UpdateFile second(std::move(first));
    EXPECT_TRUE(second.IsOpen());
    EXPECT_EQ(second.Size(), image.size());

    Bytes buffer(250);
    std::uint32_t count = 0;
    ASSERT_TRUE(second.NextBlock(buffer.data(), 250, count));
    ASSERT_EQ(count, 250u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), image.begin() + 16));
}

// --- Matching the hardware ---------------------------------------------------------------------

struct MatchCase {
    std::string_view header;
    std::string_view hardwareId;
    HardwareMatch expected;
};

class Match : public ::testing::TestWithParam<MatchCase> {};

TEST_P(Match, HeaderAgainstIdentifierPrefix) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(MatchHardware(HeaderOf(c.header), c.hardwareId), c.expected)
        << c.header << " / '" << c.hardwareId << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, Match,
    ::testing::Values(MatchCase{kStandardHeader, "m:9.0102", HardwareMatch::Matches},
                      MatchCase{kProHeader, "M:9.0102", HardwareMatch::Matches},
                      MatchCase{kStandardHeader, "m:9.", HardwareMatch::Matches},
                      // The other model's file: a file problem, not unknown hardware.
                      MatchCase{kProHeader, "m:9.0102", HardwareMatch::HeaderMismatch},
                      MatchCase{kStandardHeader, "M:9.0102", HardwareMatch::HeaderMismatch},
                      MatchCase{"TolvexFileABC123", "m:9.0102", HardwareMatch::HeaderMismatch},
                      MatchCase{"TolvexFileABC123", "M:9.0102", HardwareMatch::HeaderMismatch},
                      // The magic is part of the comparison too.
                      MatchCase{"tolvexFile999999", "m:9.0102", HardwareMatch::HeaderMismatch},
                      MatchCase{kStandardHeader, "x:9.0102", HardwareMatch::UnknownHardware},
                      MatchCase{kStandardHeader, "m:8.0102", HardwareMatch::UnknownHardware},
                      MatchCase{kProHeader, "m;9.0102", HardwareMatch::UnknownHardware},
                      MatchCase{kStandardHeader, "", HardwareMatch::UnknownHardware},
                      MatchCase{kStandardHeader, "m:9", HardwareMatch::UnknownHardware},
                      MatchCase{kProHeader, "M", HardwareMatch::UnknownHardware}));

// A 16 to 19 byte file whose model code ends in trailer bytes gets through the file checks,
// since its trailer lies inside the header; no hardware accepts its header.
TEST_F(UpdateFileTest, TrailerInsideTheHeaderIsRefusedByEveryModel) {
    for (std::size_t extra = 0; extra <= 3; ++extra) {
        Bytes bytes = ToBytes("TolvexFile999999");
        bytes.resize(16 + extra);
        std::copy(kTrailerBytes.begin(), kTrailerBytes.end(), bytes.end() - 4);
        UpdateFile file;
        ASSERT_TRUE(file.Open(Write("overlap.tvu", bytes))) << extra;
        EXPECT_EQ(MatchHardware(file.Header(), "m:9.0102"), HardwareMatch::HeaderMismatch);
        EXPECT_EQ(MatchHardware(file.Header(), "M:9.0102"), HardwareMatch::HeaderMismatch);
    }
}

}  // namespace
}  // namespace tolvex
