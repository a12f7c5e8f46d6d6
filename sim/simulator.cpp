// Installing a simulated bus, and what the public header offers on the installed one.
#include <locale>
#include <sstream>

#include "sim/bus.h"

namespace tolvex::sim {

using namespace detail;

namespace {

std::string ScenarioSummary(const Scenario& s) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << "devices=" << s.devices << " model=" << (s.model == Model::Pro ? "pro" : "standard")
         << " id=\"" << IdentifierText(s)
         << "\" generation=" << (s.generation == Generation::A ? "A" : "B")
         << " timescale=" << s.timeScale << " latency_ms=" << s.latencyMs
         << " fail=" << Hex(s.failCalls);
    return text.str();
}

}  // namespace

const D2xxEntryPoints& InstallSimulator(const Scenario& scenario) {
    auto bus = std::make_shared<Bus>();
    bus->scenario = scenario;
    bus->identifyShortLeft = scenario.identifyShort;
    bus->nakLeft = scenario.nakTimes;
    for (std::uint32_t i = 0; i < scenario.devices; ++i) {
        Device d;
        d.location = LocationIdOf(i);
        d.tolvex = i == 0;
        d.dcb = InitialDcb();
        bus->devices.push_back(std::move(d));
    }
    bus->seen.initialDcb = InitialDcb();
    if (!scenario.tracePath.empty()) {
        bus->trace.open(scenario.tracePath, std::ios::trunc);
    }
    std::lock_guard lock(gMutex);
    if (gBus) {
        gBus->replaced = true;
    }
    gBus = std::move(bus);
    Trace(*gBus, "# simulator installed: " + ScenarioSummary(scenario));
    gWake.notify_all();
    return EntryPoints();
}

std::uint32_t LocationIdOf(std::uint32_t deviceIndex) {
    return 0x2111u + 0x100u * deviceIndex;
}

Snapshot Inspect() {
    std::lock_guard lock(gMutex);
    return gBus ? gBus->seen : Snapshot{};
}

D2xxBindResult BindInProcess(D2xxBinding& out, D2xxBindResult simulate) {
    out.entryPoints = D2xxEntryPoints{};
    out.onRelease = nullptr;
    if (simulate == D2xxBindResult::NotFound) {
        out.detail = "in-process simulator: library not found (simulated)";
        return simulate;
    }
    std::lock_guard lock(gMutex);
    std::shared_ptr<Bus> bus = gBus;
    if (bus) {
        ++bus->seen.binds;
    }
    out.onRelease = [bus] {
        if (bus) {
            std::lock_guard relock(gMutex);
            ++bus->seen.releases;
        }
    };
    if (simulate == D2xxBindResult::MissingEntryPoint) {
        // Loaded, but a name is missing: the binding still holds the library, so the caller's
        // release of a failed binding can be seen.
        out.detail = "FT_W32_WaitCommEvent";
        return simulate;
    }
    out.entryPoints = EntryPoints();
    out.detail = "in-process simulator";
    return D2xxBindResult::Ok;
}

}  // namespace tolvex::sim
