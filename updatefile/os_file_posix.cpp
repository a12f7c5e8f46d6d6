#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <utility>

#include "updatefile/os_file.h"

namespace tolvex {
namespace {

int Descriptor(std::intptr_t native) {
    return static_cast<int>(native);
}

// Retries a system call that a signal interrupted.
template <typename Call>
auto RetryOnInterrupt(Call call) {
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}

}  // namespace

OsFile::OsFile(OsFile&& other) noexcept : native_(std::exchange(other.native_, -1)) {}

OsFile& OsFile::operator=(OsFile&& other) noexcept {
    if (this != &other) {
        Close();
        native_ = std::exchange(other.native_, -1);
    }
    return *this;
}

bool OsFile::Open(const std::string& path, Share share) {
    Close();
    // O_NONBLOCK only for the open itself: a FIFO given as the path must not hang the
    // update waiting for a writer. It is rejected below like every other non-regular file.
    const int fd =
        RetryOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    if (share == Share::ReadOnly) {
        // Others may read and take shared locks too; a writer holding an exclusive lock keeps
        // us out, and while we hold ours a cooperating writer cannot get one. A filesystem
        // without flock support gives no lock to take, so only contention fails the open.
        if (RetryOnInterrupt([&] { return ::flock(fd, LOCK_SH | LOCK_NB); }) != 0 &&
            errno == EWOULDBLOCK) {
            ::close(fd);
            return false;
        }
    }
    native_ = fd;
    return true;
}

bool OsFile::IsOpen() const {
    return native_ >= 0;
}

void OsFile::Close() {
    if (native_ >= 0) {
        // The lock goes with the descriptor. close is not retried: on Linux the descriptor
        // is released even when close reports EINTR.
        ::close(Descriptor(std::exchange(native_, -1)));
    }
}

bool OsFile::SeekFromEnd(std::uint64_t offset) {
    if (!IsOpen() || offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return false;
    }
    // lseek refuses a position before the start, which is what a too-short file gives.
    return ::lseek(Descriptor(native_), -static_cast<off_t>(offset), SEEK_END) >= 0;
}

bool OsFile::Read(void* buffer, std::uint32_t n, std::uint32_t& count) {
    count = 0;
    if (!IsOpen()) {
        return false;
    }
    // read(2) may return less than asked before the end of the file; keep going so that a
    // short count only ever means the end.
    auto* out = static_cast<unsigned char*>(buffer);
    while (count < n) {
        const ssize_t got =
            RetryOnInterrupt([&] { return ::read(Descriptor(native_), out + count, n - count); });
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        count += static_cast<std::uint32_t>(got);
    }
    return true;
}

bool OsFile::Size(std::uint64_t& size) const {
    struct stat info {};
    if (!IsOpen() || ::fstat(Descriptor(native_), &info) != 0 || info.st_size < 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

}  // namespace tolvex
