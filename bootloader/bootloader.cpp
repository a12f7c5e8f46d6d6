#include "bootloader/bootloader.h"

#include <array>
#include <cstddef>

namespace tolvex {

std::uint32_t BlockSize = kBlockSize;
bool TagWithBlockIndex = true;

namespace {

constexpr std::uint8_t kCommandPrefix = 0x58;    // 'X'
constexpr std::uint8_t kCommandIdentify = 0x58;  // 'X'
constexpr std::uint8_t kCommandErase = 0x45;     // 'E'
constexpr std::uint8_t kCommandWrite = 0x57;     // 'W'
constexpr std::uint8_t kCommandVerify = 0x56;    // 'V'

constexpr std::uint32_t kIdentifyReadMs = 250;
constexpr std::uint32_t kIdentifyWriteMs = 250;
constexpr std::uint32_t kEraseReadMs = 3000;
constexpr std::uint32_t kEraseWriteMs = 500;
constexpr std::uint32_t kVerifyReadMs = 120000;
constexpr std::uint32_t kVerifyWriteMs = 500;

constexpr int kIdentifyAttempts = 3;
constexpr std::uint32_t kBlockAttempts = 3;
constexpr std::uint32_t kHardwareIdLength = 8;

// The frame's length field is one byte, so no block may be longer than this.
constexpr std::uint32_t kMaxFramePayload = 255;
constexpr std::uint32_t kFrameOverhead = 5;  // 'X', 'W', n, sum low, tag

// One reply byte, or nothing when the read failed or timed out.
bool ReadReply(Link& link, std::uint8_t& reply) {
    const LinkReadResult result = LinkRead(link, &reply, 1);
    return result.ok && result.count == 1;
}

}  // namespace

bool ReadHardwareId(Link& link, std::string& hardwareId) {
    hardwareId.clear();
    if (!SetLinkTimeouts(link, kIdentifyReadMs, kIdentifyWriteMs)) {
        return false;
    }
    const std::array<std::uint8_t, 2> request = {kCommandPrefix, kCommandIdentify};
    for (int attempt = 0; attempt < kIdentifyAttempts; ++attempt) {
        if (!LinkWrite(link, request.data(), static_cast<std::uint32_t>(request.size()))) {
            return false;
        }
        std::array<std::uint8_t, kHardwareIdLength> answer{};
        const LinkReadResult read = LinkRead(link, answer.data(), kHardwareIdLength);
        if (!read.ok) {
            return false;
        }
        if (read.count == kHardwareIdLength) {
            // The identifier is kept as a terminated string, so a NUL inside it ends it.
            std::size_t length = 0;
            while (length < answer.size() && answer[length] != 0) {
                ++length;
            }
            hardwareId.assign(reinterpret_cast<const char*>(answer.data()), length);
            return true;
        }
        // A short answer is no answer; ask again.
    }
    return true;
}

bool EraseHardware(Link& link) {
    if (!SetLinkTimeouts(link, kEraseReadMs, kEraseWriteMs)) {
        return false;
    }
    const std::array<std::uint8_t, 2> request = {kCommandPrefix, kCommandErase};
    if (!LinkWrite(link, request.data(), static_cast<std::uint32_t>(request.size()))) {
        return false;
    }
    // The bootloader sends "still working" bytes for as long as the erase takes; each read
    // waits up to the read timeout on its own.
    for (;;) {
        std::uint8_t reply = 0;
        if (!ReadReply(link, reply)) {
            return false;
        }
        if (reply == kReplyBusy) {
            continue;
        }
        if (reply == kReplyAck) {
            // Bootloaders that end the erase with ACK check the sum's high byte in the frame
            // tag; the older ones ('N') check the block index. Once an ACK-ended erase has
            // been seen, the process keeps using the sum tag.
            TagWithBlockIndex = false;
            return true;
        }
        return reply == kReplyEraseDone;
    }
}

int TransmitBlock(UpdateFile& file, Link& link, std::uint32_t& runningSum, std::uint32_t blockIndex,
                  TransmitInfo* info) {
    if (info != nullptr) {
        *info = TransmitInfo{};
    }
    const std::uint32_t blockSize = BlockSize;
    if (blockSize == 0 || blockSize > kMaxFramePayload) {
        // The length field could not describe such a block; never build a frame for it.
        return kTransmitFailed;
    }

    std::array<std::uint8_t, kMaxFramePayload + kFrameOverhead> frame{};
    std::uint8_t* const payload = frame.data() + 3;
    std::uint32_t n = 0;
    if (!file.NextBlock(payload, blockSize, n)) {
        return kTransmitFailed;
    }
    if (n > blockSize) {
        return kTransmitFailed;
    }
    if (info != nullptr) {
        info->payloadBytes = n;
    }
    if (n == 0) {
        return kTransmitLast;
    }

    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        sum += payload[i];
    }
    frame[0] = kCommandPrefix;
    frame[1] = kCommandWrite;
    frame[2] = static_cast<std::uint8_t>(n);
    frame[3 + n] = static_cast<std::uint8_t>(sum & 0xFFu);
    frame[4 + n] = TagWithBlockIndex ? static_cast<std::uint8_t>(blockIndex & 0xFFu)
                                     : static_cast<std::uint8_t>((sum >> 8) & 0xFFu);
    const std::uint32_t frameLength = n + kFrameOverhead;

    bool acknowledged = false;
    for (std::uint32_t attempt = 0; attempt < kBlockAttempts && !acknowledged; ++attempt) {
        if (info != nullptr) {
            ++info->attempts;
        }
        if (!LinkWrite(link, frame.data(), frameLength)) {
            continue;
        }
        std::uint8_t reply = 0;
        acknowledged = ReadReply(link, reply) && reply == kReplyAck;
    }
    if (!acknowledged) {
        return kTransmitFailed;
    }
    runningSum += sum;
    return n == blockSize ? kTransmitMore : kTransmitLast;
}

bool VerifyHardware(Link& link, std::uint32_t runningSum) {
    if (!SetLinkTimeouts(link, kVerifyReadMs, kVerifyWriteMs)) {
        return false;
    }
    const std::array<std::uint8_t, 4> request = {
        kCommandPrefix, kCommandVerify, static_cast<std::uint8_t>(runningSum & 0xFFu),
        static_cast<std::uint8_t>((runningSum >> 8) & 0xFFu)};
    if (!LinkWrite(link, request.data(), static_cast<std::uint32_t>(request.size()))) {
        return false;
    }
    std::uint8_t reply = 0;
    return ReadReply(link, reply) && reply == kReplyAck;
}

}  // namespace tolvex
