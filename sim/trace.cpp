// The simulator's records outside the process: the trace text and the flash image file.
#include <cstdio>

#include "sim/bus.h"

namespace tolvex::sim::detail {

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t n) {
    std::string text;
    text.reserve(n * 3);
    char one[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(one, sizeof one, i ? " %02x" : "%02x", bytes[i]);
        text += one;
    }
    return text;
}

std::string HandleText(D2xxHandle h) {
    return Hex(reinterpret_cast<std::uintptr_t>(h));
}

void Trace(Bus& bus, const std::string& line) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.3f ", static_cast<double>(Now(bus)) / 1000.0);
    std::string full = stamp + line;
    if (bus.trace.is_open()) {
        bus.trace << full << '\n';
        bus.trace.flush();
    }
    bus.seen.calls.push_back(std::move(full));
}

void WriteFlashFile(Bus& bus) {
    if (bus.scenario.flashPath.empty()) {
        return;
    }
    std::ofstream out(bus.scenario.flashPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bus.seen.flash.data()),
              static_cast<std::streamsize>(bus.seen.flash.size()));
    if (!out) {
        Trace(bus, "# could not write the flash image to " + bus.scenario.flashPath);
    }
}

}  // namespace tolvex::sim::detail
