// sim-timing: how long the emulated line takes at real-time speed, against the model.
//
//   sim-timing [SCENARIO]      (SCENARIO: extra TOLVEX_SIM keys, e.g. "latency_ms=2")
//
// Connects through the serial link as the program does, then sends 100 frames of 250 payload
// bytes, each waiting for its one-byte ACK, and prints the measured time next to the model's:
// per frame, 255 bytes out and 1 byte back at 500000 baud (10 bits a byte), plus the latency
// timer, plus the device's programming time, with the ACK delivered on a 1 ms USB frame
// boundary (up to 1 ms more). A benchmark, not a test: it takes about two seconds.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "link/serial_link.h"
#include "sim/simulator.h"

int main(int argc, char** argv) {
    using namespace tolvex;
    constexpr std::uint32_t kFrames = 100;
    constexpr std::uint32_t kPayload = 250;

    sim::Scenario scenario;
    std::string error;
    const std::string extra = argc > 1 ? argv[1] : "";
    if (!sim::ParseScenario("timescale=1;" + extra, scenario, error)) {
        std::fprintf(stderr, "sim-timing: %s\n", error.c_str());
        return 2;
    }
    scenario.timeScale = 1;
    const D2xxEntryPoints& ft = sim::InstallSimulator(scenario);

    Link link;
    if (!ConnectHardware(ft, link) || !SetLinkTimeouts(link, 2000, 1000)) {
        std::fprintf(stderr, "sim-timing: could not connect to the simulated device\n");
        return 1;
    }
    PurgeLink(link);

    const auto start = std::chrono::steady_clock::now();
    for (std::uint32_t block = 0; block < kFrames; ++block) {
        std::vector<std::uint8_t> frame{0x58, 0x57, static_cast<std::uint8_t>(kPayload)};
        std::uint32_t sum = 0;
        for (std::uint32_t i = 0; i < kPayload; ++i) {
            const auto b = static_cast<std::uint8_t>(block * 7 + i);
            frame.push_back(b);
            sum += b;
        }
        frame.push_back(static_cast<std::uint8_t>(sum & 0xFF));
        frame.push_back(static_cast<std::uint8_t>(block & 0xFF));  // first generation's tag
        std::uint8_t reply = 0;
        if (!LinkWrite(link, frame.data(), static_cast<std::uint32_t>(frame.size()))) {
            std::fprintf(stderr, "sim-timing: write of frame %u failed\n", block);
            return 1;
        }
        const LinkReadResult r = LinkRead(link, &reply, 1);
        if (!r.ok || r.count != 1 || reply != 0x06) {
            std::fprintf(stderr, "sim-timing: frame %u was not acknowledged\n", block);
            return 1;
        }
    }
    const double measuredMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    link.Close();

    const double byteMs = 10.0 / 500000.0 * 1000.0;
    const double perFrameMs = (kPayload + 5 + 1) * byteMs + scenario.latencyMs + scenario.programMs;
    const double modelMs = kFrames * perFrameMs;
    std::printf("frames:   %u x %u payload bytes (%u bytes out, 1 byte back)\n", kFrames, kPayload,
                kPayload + 5);
    std::printf(
        "model:    %u x (256 x %.3f ms + %u ms latency + %u ms programming) = %.1f ms"
        " (+ up to %u ms of USB frame rounding)\n",
        kFrames, byteMs, scenario.latencyMs, scenario.programMs, modelMs, kFrames);
    std::printf("measured: %.1f ms (%.2f x model)\n", measuredMs, measuredMs / modelMs);
    return 0;
}
