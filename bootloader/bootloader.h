// The bootloader's four commands: identify "XX", erase "XE", transmit "XW", verify "XV".
// All run on the update worker thread and block it for at most the link timeouts they set
// (identify 3 x 250 ms, erase 3000 ms per reply byte, a block 3 x (1000 + 2000) ms, verify
// 120000 ms). None of them reports to the user; the update sequence does.
#pragma once

#include <cstdint>
#include <string>

#include "link/serial_link.h"
#include "updatefile/update_file.h"

namespace tolvex {

// Reply bytes.
inline constexpr std::uint8_t kReplyAck = 0x06;
inline constexpr std::uint8_t kReplyBusy = 0x16;
inline constexpr std::uint8_t kReplyEraseDone = 0x4E;

// Payload bytes per transmit frame; 250 during every transfer.
extern std::uint32_t BlockSize;
inline constexpr std::uint32_t kBlockSize = 250;

// Chooses the last byte of every transmit frame: the block index's low byte while true, the
// sum's high byte once false. True at process start; the first erase that ends with ACK
// clears it for the rest of the process's life. Written only by the update worker.
extern bool TagWithBlockIndex;

// TransmitBlock results.
inline constexpr int kTransmitLast = 0;    // the last block went through, or nothing was left
inline constexpr int kTransmitMore = 1;    // a full block went through; more may follow
inline constexpr int kTransmitFailed = 2;  // three attempts failed, or the file read failed

// Up to 3 attempts of "XX" + an 8-byte read. Success with the identifier (at most 8
// characters, cut at a NUL) when 8 bytes arrive; success with an empty identifier after 3
// short reads; failure at once when a write or read fails.
bool ReadHardwareId(Link& link, std::string& hardwareId);

// "XE", then reply bytes until ACK or 'N' (success) or anything else (failure). Clears
// TagWithBlockIndex when the erase ends with ACK.
bool EraseHardware(Link& link);

// What one TransmitBlock call did, for progress and diagnostics.
struct TransmitInfo {
    std::uint32_t payloadBytes = 0;  // n, the bytes read from the file for this frame
    std::uint32_t attempts = 0;      // frames sent (0 when nothing was left to send)
};

// Reads up to BlockSize bytes from the file, sends them as one frame with up to 3 attempts,
// and adds their sum to runningSum once acknowledged. Relies on the transfer timeouts the
// caller set. Returns kTransmitMore, kTransmitLast or kTransmitFailed.
int TransmitBlock(UpdateFile& file, Link& link, std::uint32_t& runningSum, std::uint32_t blockIndex,
                  TransmitInfo* info = nullptr);

// "XV" with the low 16 bits of runningSum, low byte first; success only on ACK.
bool VerifyHardware(Link& link, std::uint32_t runningSum);

}  // namespace tolvex
