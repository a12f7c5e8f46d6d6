// The driver libraries as the program loads them: the fourteen names (thirteen for the
// incomplete one), the scenario taken from TOLVEX_SIM at the first call, and the trace and
// flash files a test of the real program reads afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "link/d2xx_library.h"
#include "sim/tests/sim_host.h"

namespace tolvex::sim {
namespace {

void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(DriverTest, TheDriverRunsTheScenarioFromTheEnvironmentAndWritesTraceAndFlash) {
    const auto dir = std::filesystem::temp_directory_path();
    const auto trace = dir / "tolvex_sim_driver_test_trace.txt";
    const auto flash = dir / "tolvex_sim_driver_test_flash.bin";
    std::filesystem::remove(trace);
    std::filesystem::remove(flash);
    SetEnvironment("TOLVEX_SIM", "timescale=0;model=pro;devices=2;trace=" + trace.string() +
                                     ";flash=" + flash.string());

    D2xxBinding binding;
    ASSERT_EQ(BindD2xx(binding, TOLVEX_SIM_DRIVER_PATH), D2xxBindResult::Ok) << binding.detail;
    const D2xxEntryPoints& ft = binding.entryPoints;

    D2xxDword location = 0;
    ASSERT_EQ(ft.FT_ListDevices(nullptr, &location, kD2xxListByIndex | kD2xxOpenByLocation), 0u);
    EXPECT_EQ(location, LocationIdOf(0));
    const D2xxHandle h =
        ft.FT_W32_CreateFile(reinterpret_cast<const char*>(std::uintptr_t{location}), 0xC0000000u,
                             0, nullptr, 3, 0x40000084u, nullptr);
    ASSERT_NE(h, D2xxInvalidHandle());
    D2xxDcb dcb{};
    ASSERT_TRUE(ft.FT_W32_GetCommState(h, &dcb));
    dcb = testing::ProgramLine(dcb);
    ASSERT_TRUE(ft.FT_W32_SetCommState(h, &dcb));
    D2xxTimeouts timeouts{0, 0, 250, 0, 250};
    ASSERT_TRUE(ft.FT_W32_SetCommTimeouts(h, &timeouts));

    const auto frame = testing::Frame({0x11, 0x22, 0x33}, 0);
    std::vector<std::uint8_t> out = {'X', 'X'};
    out.insert(out.end(), frame.begin(), frame.end());
    D2xxOverlapped ov{};
    D2xxDword n = 0;
    ASSERT_TRUE(ft.FT_W32_WriteFile(h, out.data(), static_cast<D2xxDword>(out.size()), &n, &ov));
    std::uint8_t reply[9] = {};
    D2xxOverlapped rov{};
    if (!ft.FT_W32_ReadFile(h, reply, 9, &n, &rov)) {
        ASSERT_EQ(ft.FT_W32_GetLastError(h), kD2xxIoPending);
        ASSERT_TRUE(ft.FT_W32_GetOverlappedResult(h, &rov, &n, 1));
    }
    ASSERT_EQ(n, 9u);
    EXPECT_EQ(std::string(reply, reply + 8), "M:9.0231");
    EXPECT_EQ(reply[8], 0x06);
    EXPECT_TRUE(ft.FT_W32_CloseHandle(h));
    binding.Release();

    EXPECT_EQ(ReadText(flash), std::string("\x11\x22\x33"));
    const std::string text = ReadText(trace);
    EXPECT_NE(text.find("FT_ListDevices(arg1=0x0, flags=0x40000004) -> 0 location=0x2111"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("FT_W32_WriteFile(h="), std::string::npos);
    EXPECT_NE(text.find("[58 58 58 57 03 11 22 33 66 00]"), std::string::npos) << text;
    EXPECT_NE(text.find("FT_W32_CloseHandle(h="), std::string::npos);
}

TEST(DriverTest, TheIncompleteDriverLacksOnlyWaitCommEvent) {
    D2xxBinding binding;
    EXPECT_EQ(BindD2xx(binding, TOLVEX_SIM_DRIVER_INCOMPLETE_PATH),
              D2xxBindResult::MissingEntryPoint);
    EXPECT_NE(binding.detail.find("FT_W32_WaitCommEvent"), std::string::npos) << binding.detail;

    DynamicLibrary library;
    ASSERT_TRUE(library.Load(TOLVEX_SIM_DRIVER_INCOMPLETE_PATH)) << library.ErrorText();
    for (const char* name : kD2xxEntryPointNames) {
        const bool wanted = std::string(name) != "FT_W32_WaitCommEvent";
        EXPECT_EQ(library.Resolve(name) != nullptr, wanted) << name;
    }
}

}  // namespace
}  // namespace tolvex::sim
