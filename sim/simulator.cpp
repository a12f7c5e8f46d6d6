#include "sim/simulator.h"

namespace tolvex::sim {

bool ParseScenario(std::string_view, Scenario&, std::string& error) {
    error = "not implemented yet";
    return false;
}

const D2xxEntryPoints& InstallSimulator(const Scenario&) {
    static const D2xxEntryPoints table{};
    return table;
}

std::uint32_t LocationIdOf(std::uint32_t deviceIndex) {
    return 0x2111u + 0x100u * deviceIndex;
}

Snapshot Inspect() {
    return {};
}

D2xxBindResult BindInProcess(D2xxBinding&, D2xxBindResult) {
    return D2xxBindResult::NotFound;
}

}  // namespace tolvex::sim
