// The installed bus and its model time.
#include <algorithm>

#include "sim/bus.h"

namespace tolvex::sim::detail {
namespace {

constexpr Micros kUsbFrameUs = 1000;

}  // namespace

std::mutex gMutex;
std::condition_variable gWake;
std::shared_ptr<Bus> gBus;

Micros Now(const Bus& bus) {
    if (bus.scenario.timeScale <= 0) {
        return bus.virtualNow;
    }
    const auto real =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - bus.epoch);
    return static_cast<Micros>(real.count() / bus.scenario.timeScale);
}

Micros FrameCeil(Micros t) {
    return (t + kUsbFrameUs - 1) / kUsbFrameUs * kUsbFrameUs;
}

Micros Ms(std::uint32_t ms) {
    return static_cast<Micros>(ms) * 1000;
}

bool WaitUntil(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Bus>& bus, Micros t) {
    if (bus->scenario.timeScale <= 0) {
        bus->virtualNow = std::max(bus->virtualNow, t);
        return !bus->replaced;
    }
    const double realUs = static_cast<double>(t) * bus->scenario.timeScale;
    const auto until = bus->epoch + std::chrono::ceil<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double, std::micro>(realUs));
    gWake.wait_until(lock, until, [&] { return bus->replaced; });
    return !bus->replaced;
}

}  // namespace tolvex::sim::detail
