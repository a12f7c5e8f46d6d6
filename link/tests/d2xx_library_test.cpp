#include "link/d2xx_library.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/tests/fake_d2xx.h"

namespace tolvex {
namespace {

using testing::FakeD2xx;

// The fake's functions as a name lookup, each name giving its own distinct function.
DynamicLibrary::Symbol FakeSymbol(const char* name) {
    const D2xxEntryPoints& t = FakeD2xx::Table();
    const std::vector<std::pair<const char*, DynamicLibrary::Symbol>> symbols = {
        {"FT_W32_CreateFile", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_CreateFile)},
        {"FT_W32_CloseHandle", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_CloseHandle)},
        {"FT_W32_SetCommState", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_SetCommState)},
        {"FT_W32_WriteFile", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_WriteFile)},
        {"FT_W32_ReadFile", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_ReadFile)},
        {"FT_W32_WaitCommEvent", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_WaitCommEvent)},
        {"FT_W32_SetupComm", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_SetupComm)},
        {"FT_ListDevices", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_ListDevices)},
        {"FT_W32_GetCommState", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_GetCommState)},
        {"FT_W32_SetCommMask", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_SetCommMask)},
        {"FT_W32_GetLastError", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_GetLastError)},
        {"FT_W32_GetOverlappedResult",
         reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_GetOverlappedResult)},
        {"FT_W32_SetCommTimeouts",
         reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_SetCommTimeouts)},
        {"FT_W32_PurgeComm", reinterpret_cast<DynamicLibrary::Symbol>(t.FT_W32_PurgeComm)},
    };
    for (const auto& [symbolName, symbol] : symbols) {
        if (std::strcmp(symbolName, name) == 0) {
            return symbol;
        }
    }
    return nullptr;
}

bool SameTable(const D2xxEntryPoints& a, const D2xxEntryPoints& b) {
    return a.FT_W32_CreateFile == b.FT_W32_CreateFile &&
           a.FT_W32_CloseHandle == b.FT_W32_CloseHandle &&
           a.FT_W32_SetCommState == b.FT_W32_SetCommState &&
           a.FT_W32_WriteFile == b.FT_W32_WriteFile && a.FT_W32_ReadFile == b.FT_W32_ReadFile &&
           a.FT_W32_WaitCommEvent == b.FT_W32_WaitCommEvent &&
           a.FT_W32_SetupComm == b.FT_W32_SetupComm && a.FT_ListDevices == b.FT_ListDevices &&
           a.FT_W32_GetCommState == b.FT_W32_GetCommState &&
           a.FT_W32_SetCommMask == b.FT_W32_SetCommMask &&
           a.FT_W32_GetLastError == b.FT_W32_GetLastError &&
           a.FT_W32_GetOverlappedResult == b.FT_W32_GetOverlappedResult &&
           a.FT_W32_SetCommTimeouts == b.FT_W32_SetCommTimeouts &&
           a.FT_W32_PurgeComm == b.FT_W32_PurgeComm;
}

// --- Resolving the names -----------------------------------------------------------------------

TEST(ResolveEntryPoints, EveryNameLandsInItsOwnFieldInListedOrder) {
    std::vector<std::string> asked;
    D2xxEntryPoints out;
    std::string missing = "untouched";
    ASSERT_TRUE(ResolveD2xxEntryPoints(
        [&](const char* name) {
            asked.emplace_back(name);
            return FakeSymbol(name);
        },
        out, &missing));
    EXPECT_TRUE(SameTable(out, FakeD2xx::Table()));
    EXPECT_EQ(asked,
              std::vector<std::string>(kD2xxEntryPointNames.begin(), kD2xxEntryPointNames.end()));
}

class MissingName : public ::testing::TestWithParam<std::size_t> {};

// A library lacking any one name is refused, naming it, and nothing after it is asked for.
TEST_P(MissingName, StopsAtTheMissingName) {
    const std::string absent = kD2xxEntryPointNames[GetParam()];
    std::vector<std::string> asked;
    D2xxEntryPoints out;
    std::string missing;
    EXPECT_FALSE(ResolveD2xxEntryPoints(
        [&](const char* name) {
            asked.emplace_back(name);
            return absent == name ? nullptr : FakeSymbol(name);
        },
        out, &missing));
    EXPECT_EQ(missing, absent);
    EXPECT_EQ(asked, std::vector<std::string>(kD2xxEntryPointNames.begin(),
                                              kD2xxEntryPointNames.begin() +
                                                  static_cast<std::ptrdiff_t>(GetParam()) + 1));
    // Nothing half-resolved is handed out.
    EXPECT_TRUE(SameTable(out, D2xxEntryPoints{}));
}

INSTANTIATE_TEST_SUITE_P(EachOfTheFourteen, MissingName,
                         ::testing::Range<std::size_t>(0, kD2xxEntryPointNames.size()),
                         [](const auto& param) {
                             return std::string(kD2xxEntryPointNames[param.param]);
                         });

// --- Loading through the system loader ------------------------------------------------------

TEST(BindD2xx, PlatformLibraryName) {
#if defined(_WIN32)
    EXPECT_STREQ(D2xxLibraryName(), "FTD2XX.DLL");
#elif defined(__APPLE__)
    EXPECT_STREQ(D2xxLibraryName(), "libftd2xx.dylib");
#else
    EXPECT_STREQ(D2xxLibraryName(), "libftd2xx.so");
#endif
}

TEST(BindD2xx, AbsentLibraryIsNotFoundWithTheLoadersText) {
    D2xxBinding binding;
    EXPECT_EQ(BindD2xx(binding, "tolvex-no-such-driver-library"), D2xxBindResult::NotFound);
    EXPECT_FALSE(binding.detail.empty());
    EXPECT_FALSE(binding.library.IsLoaded());
    EXPECT_EQ(binding.entryPoints.FT_ListDevices, nullptr);
}

TEST(BindD2xx, LibraryWithoutTheNamesIsMissingTheFirstOne) {
    // The test program's own loader library loads everywhere and exports none of the names.
    D2xxBinding binding;
    EXPECT_EQ(BindD2xx(binding, TOLVEX_TEST_UNRELATED_LIBRARY), D2xxBindResult::MissingEntryPoint);
    EXPECT_EQ(binding.detail, "FT_W32_CreateFile");
    EXPECT_FALSE(binding.library.IsLoaded());
    EXPECT_TRUE(SameTable(binding.entryPoints, D2xxEntryPoints{}));
}

TEST(BindD2xx, CompleteLibraryBindsAndReportsItsPath) {
    D2xxBinding binding;
    ASSERT_EQ(BindD2xx(binding, TOLVEX_TEST_STUB_DRIVER), D2xxBindResult::Ok) << binding.detail;
    EXPECT_TRUE(binding.library.IsLoaded());
    EXPECT_NE(binding.detail.find("stub_driver"), std::string::npos) << binding.detail;
    // The resolved functions are the library's own.
    ASSERT_NE(binding.entryPoints.FT_ListDevices, nullptr);
    EXPECT_EQ(binding.entryPoints.FT_ListDevices(nullptr, nullptr, 0), 0x5708u);
    ASSERT_NE(binding.entryPoints.FT_W32_GetLastError, nullptr);
    EXPECT_EQ(binding.entryPoints.FT_W32_GetLastError(nullptr), 0x5711u);
}

TEST(BindD2xx, ReleaseUnloadsThenNotifiesOnce) {
    int notified = 0;
    {
        D2xxBinding binding;
        ASSERT_EQ(BindD2xx(binding, TOLVEX_TEST_STUB_DRIVER), D2xxBindResult::Ok);
        binding.onRelease = [&] {
            EXPECT_FALSE(binding.library.IsLoaded());
            ++notified;
        };
        binding.Release();
        EXPECT_EQ(notified, 1);
        EXPECT_EQ(binding.entryPoints.FT_ListDevices, nullptr);
        binding.Release();
    }  // and the destructor
    EXPECT_EQ(notified, 1);
}

TEST(BindD2xx, MovedBindingReleasesOnce) {
    int notified = 0;
    {
        D2xxBinding first;
        ASSERT_EQ(BindD2xx(first, TOLVEX_TEST_STUB_DRIVER), D2xxBindResult::Ok);
        first.onRelease = [&] { ++notified; };
        D2xxBinding second(std::move(first));
        EXPECT_TRUE(second.library.IsLoaded());
        EXPECT_FALSE(first.library.IsLoaded());  // NOLINT(bugprone-use-after-move)
    }
    EXPECT_EQ(notified, 1);
}

// --- The library owner ---------------------------------------------------------------------

TEST(DynamicLibrary, ResolveReportsWhatIsMissing) {
    DynamicLibrary library;
    EXPECT_EQ(library.Resolve("FT_ListDevices"), nullptr);
    EXPECT_FALSE(library.ErrorText().empty());

    ASSERT_TRUE(library.Load(TOLVEX_TEST_STUB_DRIVER)) << library.ErrorText();
    EXPECT_NE(library.Resolve("FT_ListDevices"), nullptr);
    EXPECT_EQ(library.Resolve("FT_NoSuchFunction"), nullptr);
    EXPECT_FALSE(library.ErrorText().empty());
}

TEST(DynamicLibrary, MoveTransfersOwnershipAndReleaseIsIdempotent) {
    DynamicLibrary first;
    ASSERT_TRUE(first.Load(TOLVEX_TEST_STUB_DRIVER));
    EXPECT_FALSE(first.LoadedPath().empty());

    DynamicLibrary second(std::move(first));
    EXPECT_FALSE(first.IsLoaded());  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(second.IsLoaded());

    DynamicLibrary third;
    third = std::move(second);
    EXPECT_TRUE(third.IsLoaded());
    EXPECT_NE(third.Resolve("FT_W32_PurgeComm"), nullptr);

    third.Release();
    third.Release();
    EXPECT_FALSE(third.IsLoaded());
    EXPECT_TRUE(third.LoadedPath().empty());
}

}  // namespace
}  // namespace tolvex
