// tvu-sample: writes a sample update file for trying the updater against the simulator.
//
//   tvu-sample [--model CODE] [--payload N] [--seed S] OUT.tvu
//
// The file is "TolvexFile" + CODE (six characters, default 999999) + N payload bytes
// (default 60000, at least 4). The payload's last four bytes are the trailer 5A A5 5A A5;
// the others come from std::mt19937 seeded with S (default 1), one byte (the top eight bits)
// per draw, so a seed always gives the same file. Exit status: 0 written, 1 could not write,
// 2 bad arguments.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr std::string_view kMagic = "TolvexFile";
constexpr std::uint8_t kTrailer[4] = {0x5A, 0xA5, 0x5A, 0xA5};

int Usage(const char* why) {
    std::fprintf(stderr,
                 "tvu-sample: %s\n"
                 "usage: tvu-sample [--model CODE] [--payload N] [--seed S] OUT.tvu\n"
                 "  CODE  six characters after the magic, e.g. 999999 or 999PRO (default 999999)\n"
                 "  N     payload bytes including the 4-byte trailer, at least 4 (default 60000)\n"
                 "  S     seed of the pseudo-random payload (default 1)\n",
                 why);
    return 2;
}

bool ParseNumber(std::string_view text, std::uint32_t& out) {
    if (text.empty()) {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv) {
    std::string model = "999999";
    std::uint32_t payload = 60000;
    std::uint32_t seed = 1;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--model" && hasValue) {
            model = argv[++i];
            if (model.size() != 6) {
                return Usage("the model code must be six characters");
            }
        } else if (arg == "--payload" && hasValue) {
            if (!ParseNumber(argv[++i], payload) || payload < 4) {
                return Usage("the payload size must be a whole number of at least 4");
            }
        } else if (arg == "--seed" && hasValue) {
            if (!ParseNumber(argv[++i], seed)) {
                return Usage("the seed must be a whole number");
            }
        } else if (!arg.empty() && arg.front() == '-') {
            return Usage("unknown option or missing value");
        } else if (out.empty()) {
            out = arg;
        } else {
            return Usage("only one output file");
        }
    }
    if (out.empty()) {
        return Usage("no output file");
    }

    std::vector<char> bytes(kMagic.begin(), kMagic.end());
    bytes.insert(bytes.end(), model.begin(), model.end());
    std::mt19937 random(seed);
    for (std::uint32_t i = 0; i + 4 < payload; ++i) {
        bytes.push_back(static_cast<char>(random() >> 24));
    }
    for (const std::uint8_t b : kTrailer) {
        bytes.push_back(static_cast<char>(b));
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::fprintf(stderr, "tvu-sample: could not write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
