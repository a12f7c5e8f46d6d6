// Reading a scenario from its TOLVEX_SIM text: "key=value;..." or a file holding that text.
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <system_error>

#include "sim/simulator.h"

namespace tolvex::sim {
namespace {

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool ParseCount(std::string_view v, std::uint32_t& out) {
    if (v.empty()) {
        return false;
    }
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
    if (ec != std::errc{} || end != v.data() + v.size()) {
        return false;
    }
    out = value;
    return true;
}

bool ParseScale(std::string_view v, double& out) {
    // from_chars for double is not in every standard library this builds with.
    const std::string text(v);
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double value = 0;
    in >> value;
    if (text.empty() || in.fail() || !in.eof() || !std::isfinite(value) || value < 0) {
        return false;
    }
    out = value;
    return true;
}

bool ParseAnswer(std::string_view v, Answer& out) {
    if (v == "ok") {
        out = Answer::Ok;
    } else if (v == "nak") {
        out = Answer::Nak;
    } else if (v == "silent") {
        out = Answer::Silent;
    } else {
        return false;
    }
    return true;
}

bool ParseFailList(std::string_view v, std::uint32_t& out) {
    static constexpr struct {
        std::string_view name;
        FailCall bit;
    } kNames[] = {
        {"list", kFailList},
        {"open", kFailOpen},
        {"setupcomm", kFailSetupComm},
        {"getcommstate", kFailGetCommState},
        {"setcommstate", kFailSetCommState},
        {"setcommmask", kFailSetCommMask},
        {"timeouts", kFailTimeouts},
        {"close", kFailClose},
    };
    std::uint32_t bits = 0;
    while (!v.empty()) {
        const auto comma = v.find(',');
        const std::string_view name = Trim(v.substr(0, comma));
        v = comma == std::string_view::npos ? std::string_view{} : v.substr(comma + 1);
        if (name.empty()) {
            continue;
        }
        bool known = false;
        for (const auto& entry : kNames) {
            if (entry.name == name) {
                bits |= entry.bit;
                known = true;
            }
        }
        if (!known) {
            return false;
        }
    }
    out = bits;
    return true;
}

// Applies one key=value pair; false with an explanation for an unknown key or a bad value.
bool Apply(std::string_view key, std::string_view v, Scenario& s, std::string& error) {
    bool ok = true;
    std::uint32_t n = 0;
    if (key == "devices") {
        ok = ParseCount(v, s.devices) && s.devices <= 16;
    } else if (key == "model") {
        ok = v == "standard" || v == "pro";
        s.model = v == "pro" ? Model::Pro : Model::Standard;
    } else if (key == "id") {
        s.id = std::string(v);
    } else if (key == "generation") {
        ok = v == "A" || v == "B" || v == "a" || v == "b";
        s.generation = (v == "B" || v == "b") ? Generation::B : Generation::A;
    } else if (key == "tag") {
        if (v == "index") {
            s.tag = TagRule::Index;
        } else if (v == "sum") {
            s.tag = TagRule::Sum;
        } else if (v == "any") {
            s.tag = TagRule::Any;
        } else {
            ok = false;
        }
    } else if (key == "identify_short") {
        ok = ParseCount(v, s.identifyShort);
    } else if (key == "erase") {
        ok = ParseAnswer(v, s.erase);
    } else if (key == "nak_block") {
        ok = ParseCount(v, n);
        s.nakBlock = n;
    } else if (key == "nak_times") {
        if (v == "always") {
            s.nakTimes = kNakAlways;
        } else {
            ok = ParseCount(v, s.nakTimes);
        }
    } else if (key == "vanish_block") {
        ok = ParseCount(v, n);
        s.vanishBlock = n;
    } else if (key == "verify") {
        ok = ParseAnswer(v, s.verify);
    } else if (key == "fail") {
        ok = ParseFailList(v, s.failCalls);
    } else if (key == "pending") {
        if (v == "none") {
            s.pending = Pending::None;
        } else if (v == "reads") {
            s.pending = Pending::Reads;
        } else if (v == "writes") {
            s.pending = Pending::Writes;
        } else if (v == "all") {
            s.pending = Pending::All;
        } else {
            ok = false;
        }
    } else if (key == "timescale") {
        ok = ParseScale(v, s.timeScale);
    } else if (key == "latency_ms") {
        ok = ParseCount(v, s.latencyMs) && s.latencyMs >= 1 && s.latencyMs <= 255;
    } else if (key == "erase_ms") {
        ok = ParseCount(v, s.eraseMs);
    } else if (key == "keepalive_ms") {
        ok = ParseCount(v, s.keepAliveMs) && s.keepAliveMs >= 1;
    } else if (key == "program_ms") {
        ok = ParseCount(v, s.programMs);
    } else if (key == "verify_ms") {
        ok = ParseCount(v, s.verifyMs);
    } else if (key == "trace") {
        s.tracePath = std::string(v);
    } else if (key == "flash") {
        s.flashPath = std::string(v);
    } else {
        error = "unknown key '" + std::string(key) + "'";
        return false;
    }
    if (!ok) {
        error = "bad value '" + std::string(v) + "' for " + std::string(key);
    }
    return ok;
}

bool ParseText(std::string_view text, Scenario& out, std::string& error) {
    Scenario s;
    while (!text.empty()) {
        const auto end = text.find_first_of(";\n");
        const std::string_view pair = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (pair.empty() || pair.front() == '#') {
            continue;
        }
        const auto eq = pair.find('=');
        if (eq == std::string_view::npos) {
            error = "'" + std::string(pair) + "' is not key=value";
            return false;
        }
        if (!Apply(Trim(pair.substr(0, eq)), Trim(pair.substr(eq + 1)), s, error)) {
            return false;
        }
    }
    out = std::move(s);
    return true;
}

}  // namespace

bool ParseScenario(std::string_view text, Scenario& out, std::string& error) {
    const std::string_view trimmed = Trim(text);
    // A value that names an existing file is read as that file's text; the key=value form
    // never names a file because it always holds '='.
    if (!trimmed.empty() && trimmed.find('=') == std::string_view::npos) {
        std::ifstream file{std::string(trimmed), std::ios::binary};
        if (!file) {
            error = "'" + std::string(trimmed) + "' is neither key=value text nor a readable file";
            return false;
        }
        std::ostringstream content;
        content << file.rdbuf();
        if (!ParseText(content.str(), out, error)) {
            error = std::string(trimmed) + ": " + error;
            return false;
        }
        return true;
    }
    return ParseText(trimmed, out, error);
}

}  // namespace tolvex::sim
