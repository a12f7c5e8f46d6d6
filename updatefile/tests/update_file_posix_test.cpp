// What "sharing read access only" means on POSIX: the open update file holds a shared
// advisory lock for as long as it is open.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "updatefile/tests/test_files.h"
#include "updatefile/update_file.h"

namespace tolvex {
namespace {

using testing::kTrailerBytes;
using testing::UpdateImage;

// A second, independent open of the same file, as another process would have it.
class OtherHandle {
  public:
    explicit OtherHandle(const std::string& path, int flags = O_RDONLY)
        : fd_(::open(path.c_str(), flags | O_CLOEXEC)) {}
    ~OtherHandle() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    OtherHandle(const OtherHandle&) = delete;
    OtherHandle& operator=(const OtherHandle&) = delete;

    int fd() const { return fd_; }
    bool TryLock(int kind) { return ::flock(fd_, kind | LOCK_NB) == 0; }

  private:
    int fd_;
};

using SharedLock = testing::FileFixture;

TEST_F(SharedLock, OthersMayReadButNotLockForWriting) {
    const std::string path = Write("locked.tvu", UpdateImage(kStandardHeader, 300));
    UpdateFile file;
    ASSERT_TRUE(file.Open(path));

    OtherHandle writer(path, O_RDWR);
    ASSERT_GE(writer.fd(), 0);
    EXPECT_FALSE(writer.TryLock(LOCK_EX));
    EXPECT_EQ(errno, EWOULDBLOCK);

    OtherHandle reader(path);
    ASSERT_GE(reader.fd(), 0);
    EXPECT_TRUE(reader.TryLock(LOCK_SH));
    char byte = 0;
    EXPECT_EQ(::read(reader.fd(), &byte, 1), 1);
    EXPECT_EQ(byte, 'T');
    // A second update file on the same path is another reader.
    UpdateFile second;
    EXPECT_TRUE(second.Open(path));
    second.Close();
    ::flock(reader.fd(), LOCK_UN);

    file.Close();
    EXPECT_TRUE(writer.TryLock(LOCK_EX));
}

TEST_F(SharedLock, FileBeingWrittenDoesNotOpen) {
    const std::string path = Write("busy.tvu", UpdateImage(kStandardHeader, 300));
    OtherHandle writer(path, O_RDWR);
    ASSERT_TRUE(writer.TryLock(LOCK_EX));

    UpdateFile file;
    FileRejection why = FileRejection::None;
    EXPECT_FALSE(file.Open(path, &why));
    EXPECT_EQ(why, FileRejection::CannotOpen);
    EXPECT_FALSE(file.IsOpen());
}

// Rejections after the reopen must not leave the lock behind.
TEST_F(SharedLock, RejectedFileLeavesNoLock) {
    testing::Bytes image = UpdateImage(kStandardHeader, 300);
    image[3] = 'X';
    const std::string path = Write("badmagic.tvu", image);
    UpdateFile file;
    FileRejection why = FileRejection::None;
    ASSERT_FALSE(file.Open(path, &why));
    ASSERT_EQ(why, FileRejection::BadMagic);

    OtherHandle writer(path, O_RDWR);
    EXPECT_TRUE(writer.TryLock(LOCK_EX));
}

TEST_F(SharedLock, FifoIsRefusedWithoutWaitingForAWriter) {
    const std::string path = (folder_ / "pipe.tvu").string();
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    UpdateFile file;
    FileRejection why = FileRejection::None;
    EXPECT_FALSE(file.Open(path, &why));
    EXPECT_EQ(why, FileRejection::CannotOpen);
}

// --- Sizes beyond 32 bits ----------------------------------------------------------------------

class LargeFile : public testing::FileFixture {
  protected:
    // A sparse file of `size` bytes with the header at the start and the trailer at the end;
    // empty when the filesystem will not hold it.
    std::string Sparse(std::uint64_t size) {
        const std::string path = (folder_ / "large.tvu").string();
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            return {};
        }
        const bool ok = ::pwrite(fd, kStandardHeader.data(), kStandardHeader.size(), 0) ==
                            static_cast<ssize_t>(kStandardHeader.size()) &&
                        ::ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                        ::pwrite(fd, kTrailerBytes.data(), kTrailerBytes.size(),
                                 static_cast<off_t>(size - kTrailerBytes.size())) ==
                            static_cast<ssize_t>(kTrailerBytes.size());
        ::close(fd);
        return ok ? path : std::string();
    }
};

TEST_F(LargeFile, SizeBeyond32BitsIsRejectedNotWrapped) {
    // 4 GiB + 20 would read as a 20-byte file if the size were cut to 32 bits.
    const std::string path = Sparse((std::uint64_t{1} << 32) + 20);
    if (path.empty()) {
        GTEST_SKIP() << "the filesystem does not hold a sparse file beyond 4 GiB";
    }
    UpdateFile file;
    FileRejection why = FileRejection::None;
    EXPECT_FALSE(file.Open(path, &why));
    EXPECT_EQ(why, FileRejection::TooLarge);
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(LargeFile, LargestSizeThatFitsIsAccepted) {
    const std::uint64_t size = std::numeric_limits<std::uint32_t>::max();
    const std::string path = Sparse(size);
    if (path.empty()) {
        GTEST_SKIP() << "the filesystem does not hold a sparse 4 GiB file";
    }
    UpdateFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_EQ(file.Size(), size);
}

}  // namespace
}  // namespace tolvex
