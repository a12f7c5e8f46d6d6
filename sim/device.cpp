// The device side: the FTDI chip's packets towards the host and the emulated Tolvex
// bootloader that hears the host's bytes and answers them.
#include <algorithm>
#include <cmath>

#include "sim/bus.h"

namespace tolvex::sim::detail {
namespace {

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kBusy = 0x16;
constexpr std::uint8_t kEraseDoneA = 0x4E;
constexpr std::uint8_t kCommandStart = 0x58;  // 'X'
constexpr std::uint32_t kMaxFramePayload = 250;
constexpr std::uint32_t kDeviceBaud = 500000;
// The FTDI chip sends a USB packet of 64 bytes, two of which are modem status: 62 data bytes.
constexpr std::uint32_t kChipPacketData = 62;
// The bootloader drops a half-received command after this much silence on the line.
constexpr Micros kCommandTimeoutUs = 100000;

double ByteTimeUs(std::uint32_t baud) {
    // One start bit, eight data bits, one stop bit.
    return baud == 0 ? 1e9 : 10.0 * 1e6 / static_cast<double>(baud);
}

// The device sends one byte that is ready at `readyAt`; the FTDI chip passes it on to the
// host with the next USB packet: when 62 bytes are waiting, or when the latency timer that
// started with the first waiting byte expires, on a 1 ms frame boundary.
void Reply(Bus& bus, Device& d, std::uint8_t value, Micros readyAt) {
    const Micros start = std::max(readyAt, d.deviceTxFree);
    const Micros arrival = start + static_cast<Micros>(std::llround(ByteTimeUs(kDeviceBaud)));
    d.deviceTxFree = arrival;
    Micros deliver = 0;
    if (d.batchOpen && arrival < d.batchDeliver && d.batchCount < kChipPacketData) {
        ++d.batchCount;
        deliver = d.batchDeliver;
        if (d.batchCount == kChipPacketData) {
            deliver = FrameCeil(arrival);
            const std::size_t earlier = std::min<std::size_t>(kChipPacketData - 1, d.rx.size());
            for (std::size_t i = d.rx.size() - earlier; i < d.rx.size(); ++i) {
                d.rx[i].deliver = std::min(d.rx[i].deliver, deliver);
            }
            d.batchOpen = false;
        }
    } else {
        d.batchOpen = true;
        d.batchCount = 1;
        d.batchDeliver = FrameCeil(arrival + Ms(bus.scenario.latencyMs));
        deliver = d.batchDeliver;
    }
    d.rx.push_back(RxByte{value, arrival, deliver});
    gWake.notify_all();
}

void Identify(Bus& bus, Device& d, Micros t) {
    ++bus.seen.identifyCount;
    const std::string id = IdentifierText(bus.scenario);
    std::size_t n = 8;
    if (bus.identifyShortLeft > 0) {
        --bus.identifyShortLeft;
        n = 7;
    }
    for (std::size_t i = 0; i < n; ++i) {
        Reply(bus, d, static_cast<std::uint8_t>(id[i]), t);
    }
}

void Erase(Bus& bus, Device& d, Micros t) {
    ++bus.seen.eraseCount;
    bus.seen.flash.clear();
    bus.seen.deviceSum = 0;
    bus.blockIndex = 0;
    bus.nakLeft = bus.scenario.nakTimes;
    const Scenario& s = bus.scenario;
    if (s.erase == Answer::Silent) {
        return;
    }
    for (Micros k = Ms(s.keepAliveMs); k < Ms(s.eraseMs); k += Ms(s.keepAliveMs)) {
        Reply(bus, d, kBusy, t + k);
    }
    const std::uint8_t done = s.generation == Generation::A ? kEraseDoneA : kAck;
    Reply(bus, d, s.erase == Answer::Ok ? done : kNak, t + Ms(s.eraseMs));
}

bool TagAccepted(const Scenario& s, std::uint8_t tag, std::uint32_t index, std::uint32_t sum) {
    TagRule rule = s.tag;
    if (rule == TagRule::FollowGeneration) {
        rule = s.generation == Generation::A ? TagRule::Index : TagRule::Sum;
    }
    switch (rule) {
        case TagRule::Index:
            return tag == (index & 0xFFu);
        case TagRule::Sum:
            return tag == ((sum >> 8) & 0xFFu);
        default:
            return true;
    }
}

void Vanish(Bus& bus, Device& d) {
    bus.seen.vanished = true;
    d.present = false;
    d.rx.clear();
    for (auto& [value, h] : bus.handles) {
        if (&bus.devices[h.device] == &d) {
            h.lastError = kErrDeviceNotConnected;
        }
    }
    gWake.notify_all();
}

void FrameComplete(Bus& bus, Device& d, Micros t) {
    const std::vector<std::uint8_t>& f = d.command;
    const std::size_t n = f[2];
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += f[3 + i];
    }
    const std::uint32_t index = bus.blockIndex;
    const Scenario& s = bus.scenario;
    if (s.vanishBlock && *s.vanishBlock == index) {
        bus.seen.frames.push_back(ReceivedFrame{f, false});
        Vanish(bus, d);
        return;
    }
    bool good = f[3 + n] == (sum & 0xFFu) && TagAccepted(s, f[4 + n], index, sum);
    if (good && s.nakBlock && *s.nakBlock == index && bus.nakLeft > 0) {
        if (bus.nakLeft != kNakAlways) {
            --bus.nakLeft;
        }
        good = false;
    }
    bus.seen.frames.push_back(ReceivedFrame{f, good});
    if (!good) {
        Reply(bus, d, kNak, t);
        return;
    }
    bus.seen.flash.insert(bus.seen.flash.end(), f.begin() + 3,
                          f.begin() + 3 + static_cast<std::ptrdiff_t>(n));
    bus.seen.deviceSum += sum;
    ++bus.blockIndex;
    Reply(bus, d, kAck, t + Ms(s.programMs));
}

void Verify(Bus& bus, Device& d, Micros t) {
    ++bus.seen.verifyCount;
    const std::uint32_t hostSum =
        static_cast<std::uint32_t>(d.command[2]) | (static_cast<std::uint32_t>(d.command[3]) << 8);
    WriteFlashFile(bus);
    if (bus.scenario.verify == Answer::Silent) {
        return;
    }
    const bool ok = bus.scenario.verify == Answer::Ok && hostSum == (bus.seen.deviceSum & 0xFFFFu);
    Reply(bus, d, ok ? kAck : kNak, t + Ms(bus.scenario.verifyMs));
}

// The bootloader hears one byte that arrived at `t`. Unknown commands are ignored: it waits
// for the next 'X'.
void Hear(Bus& bus, Device& d, std::uint8_t b, Micros t) {
    if (d.state != ParseState::Idle && t - d.lastHeard > kCommandTimeoutUs) {
        d.state = ParseState::Idle;
    }
    d.lastHeard = t;
    switch (d.state) {
        case ParseState::Idle:
            if (b == kCommandStart) {
                d.command.assign(1, b);
                d.state = ParseState::GotX;
            }
            break;
        case ParseState::GotX:
            d.command.push_back(b);
            d.state = ParseState::Idle;
            if (b == 'X') {
                Identify(bus, d, t);
            } else if (b == 'E') {
                Erase(bus, d, t);
            } else if (b == 'W') {
                d.state = ParseState::Length;
            } else if (b == 'V') {
                d.state = ParseState::VerifyLo;
            }
            break;
        case ParseState::Length:
            d.command.push_back(b);
            if (b == 0 || b > kMaxFramePayload) {
                // Without a sane length the frame's end is unknown: refuse it and ignore the
                // rest of what the host is sending now.
                bus.seen.frames.push_back(ReceivedFrame{d.command, false});
                Reply(bus, d, kNak, t);
                d.state = ParseState::Discard;
            } else {
                d.state = ParseState::Payload;
            }
            break;
        case ParseState::Payload:
            d.command.push_back(b);
            if (d.command.size() == 3u + d.command[2]) {
                d.state = ParseState::Sum;
            }
            break;
        case ParseState::Sum:
            d.command.push_back(b);
            d.state = ParseState::Tag;
            break;
        case ParseState::Tag:
            d.command.push_back(b);
            d.state = ParseState::Idle;
            FrameComplete(bus, d, t);
            break;
        case ParseState::VerifyLo:
            d.command.push_back(b);
            d.state = ParseState::VerifyHi;
            break;
        case ParseState::VerifyHi:
            d.command.push_back(b);
            d.state = ParseState::Idle;
            Verify(bus, d, t);
            break;
        case ParseState::Discard:
            break;
    }
}

}  // namespace

D2xxDcb InitialDcb() {
    // Deliberately unsuitable in every field the program must set (9600 baud, 7 data bits,
    // even parity, two stop bits, parity checking, XON/XOFF both ways, null stripping), with
    // distinctive values elsewhere, so a program that forgets a field, or clobbers one it
    // should leave, shows.
    D2xxDcb dcb{};
    dcb.length = sizeof(D2xxDcb);
    dcb.baudRate = 9600;
    dcb.flags =
        kDcbBinary | kDcbParityCheck | (1u << 4) | kDcbOutX | kDcbInX | kDcbNullStrip | (1u << 12);
    dcb.xonLimit = 2048;
    dcb.xoffLimit = 512;
    dcb.byteSize = 7;
    dcb.parity = 2;
    dcb.stopBits = 2;
    dcb.xonChar = 0x11;
    dcb.xoffChar = 0x13;
    dcb.errorChar = '?';
    dcb.eofChar = 0x1A;
    dcb.evtChar = 0x0D;
    return dcb;
}

bool LineOk(const D2xxDcb& dcb) {
    return dcb.baudRate == kDeviceBaud && dcb.byteSize == 8 && dcb.parity == kDcbNoParity &&
           dcb.stopBits == kDcbOneStopBit && (dcb.flags & (kDcbOutX | kDcbInX)) == 0;
}

std::string IdentifierText(const Scenario& s) {
    std::string id = s.id ? *s.id : (s.model == Model::Pro ? "M:9.0231" : "m:9.0231");
    id.resize(8, ' ');
    return id;
}

void HostSends(Bus& bus, Device& d, const std::uint8_t* bytes, std::size_t n) {
    const Micros start = std::max(Now(bus), d.hostTxFree);
    const double byteUs = ByteTimeUs(d.dcb.baudRate);
    const bool understood = d.tolvex && LineOk(d.dcb);
    Micros arrival = start;
    for (std::size_t i = 0; i < n && d.present; ++i) {
        arrival = start + static_cast<Micros>(std::llround(static_cast<double>(i + 1) * byteUs));
        if (understood) {
            Hear(bus, d, bytes[i], arrival);
        }
    }
    d.hostTxFree = arrival;
    if (!understood) {
        d.state = ParseState::Idle;
    }
    if (d.state == ParseState::Discard) {
        d.state = ParseState::Idle;
    }
}

}  // namespace tolvex::sim::detail
