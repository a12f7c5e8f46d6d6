// The Windows side of the thin OS layer: wide-character paths, the share mode of the update
// file, and where the library loader looks.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "link/dynamic_library.h"
#include "updatefile/os_file.h"
#include "updatefile/update_file.h"

namespace tolvex {
namespace {

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// True when the text cannot be spelled in the ANSI code page, i.e. a program that used the
// narrow (A) file functions could not open it.
bool OutsideAnsiCodePage(const std::wstring& text) {
    BOOL usedDefault = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                        nullptr, 0, nullptr, &usedDefault);
    return usedDefault != FALSE;
}

std::wstring ModuleDirectory() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L"\\/"));
}

// A fresh folder under the temporary directory, removed with everything in it.
class TempFolder {
  public:
    explicit TempFolder(const std::wstring& name) {
        std::wstring base(MAX_PATH + 1, L'\0');
        base.resize(GetTempPathW(static_cast<DWORD>(base.size()), base.data()));
        path_ = base + name + L"_" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        for (const std::wstring& file : files_) {
            DeleteFileW(file.c_str());
        }
        RemoveDirectoryW(path_.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return path_; }

    std::wstring Write(const std::wstring& name, const std::vector<std::uint8_t>& bytes) {
        const std::wstring file = Track(name);
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
        return file;
    }

    std::wstring Copy(const std::wstring& from, const std::wstring& name) {
        const std::wstring file = Track(name);
        EXPECT_NE(CopyFileW(from.c_str(), file.c_str(), FALSE), 0);
        return file;
    }

  private:
    std::wstring Track(const std::wstring& name) {
        files_.push_back(path_ + L"\\" + name);
        return files_.back();
    }

    std::wstring path_;
    std::vector<std::wstring> files_;
};

std::vector<std::uint8_t> SampleUpdate() {
    std::vector<std::uint8_t> bytes(kStandardHeader.begin(), kStandardHeader.end());
    for (int i = 0; i < 300; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i * 7));
    }
    bytes.insert(bytes.end(), kUpdateTrailer.begin(), kUpdateTrailer.end());
    return bytes;
}

// Greek and CJK in both the folder and the file name; code page 1252 has neither.
const std::wstring kGreekCjkFolder =
    L"tolvex_\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC_\u4E2D\u6587";
const std::wstring kGreekCjkFile =
    L"\u03B5\u03BD\u03B7\u03BC\u03AD\u03C1\u03C9\u03C3\u03B7_\u66F4\u65B0.tvu";

TEST(WindowsOsFile, PathOutsideTheAnsiCodePageOpensAndReads) {
    ASSERT_TRUE(OutsideAnsiCodePage(kGreekCjkFolder + kGreekCjkFile))
        << "the ANSI code page " << GetACP() << " spells these names; the test proves nothing";
    TempFolder folder(kGreekCjkFolder);
    const std::vector<std::uint8_t> bytes = SampleUpdate();
    const std::string path = Utf8(folder.Write(kGreekCjkFile, bytes));

    OsFile file;
    ASSERT_TRUE(file.Open(path, OsFile::Share::ReadOnly));
    std::uint64_t size = 0;
    ASSERT_TRUE(file.Size(size));
    EXPECT_EQ(size, bytes.size());
    ASSERT_TRUE(file.SeekFromEnd(4));
    std::uint8_t tail[8] = {};
    std::uint32_t count = 0;
    ASSERT_TRUE(file.Read(tail, sizeof tail, count));
    ASSERT_EQ(count, 4u);
    EXPECT_TRUE(std::equal(kUpdateTrailer.begin(), kUpdateTrailer.end(), tail));
    file.Close();

    // The whole acceptance path, which opens the file twice.
    UpdateFile update;
    FileRejection why = FileRejection::None;
    ASSERT_TRUE(update.Open(path, &why)) << static_cast<int>(why);
    EXPECT_EQ(update.ModelCode(), "999999");
    EXPECT_EQ(update.Size(), bytes.size());
}

TEST(WindowsOsFile, RefusesWhatIsNotAFileOrNotUtf8) {
    TempFolder folder(L"tolvex_refuse");
    OsFile file;
    EXPECT_FALSE(file.Open(Utf8(folder.Path()), OsFile::Share::Any)) << "a folder";
    EXPECT_FALSE(file.Open("NUL", OsFile::Share::Any)) << "a device";
    EXPECT_FALSE(file.Open("", OsFile::Share::Any));
    // Invalid UTF-8 must not be turned into replacement characters that name another file.
    EXPECT_FALSE(file.Open(Utf8(folder.Path()) + "\\\xFF\xFE.tvu", OsFile::Share::Any));
    EXPECT_FALSE(file.IsOpen());
}

struct ShareCase {
    const char* name;
    OsFile::Share share;
    bool othersMayWrite;
};

class WindowsOsFileShare : public ::testing::TestWithParam<ShareCase> {};

// While the file is open, another opener asking for write access is refused only under
// Share::ReadOnly; reading stays possible in both modes. The share mode is enforced across
// processes the same way (tests/windows/share_read.cmake runs it against a live update).
TEST_P(WindowsOsFileShare, OthersMayReadAndWriteOnlyAsAllowed) {
    const ShareCase& c = GetParam();
    TempFolder folder(L"tolvex_share");
    const std::wstring path = folder.Write(L"update.tvu", SampleUpdate());

    OsFile file;
    ASSERT_TRUE(file.Open(Utf8(path), c.share));

    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD writeError = GetLastError();
    EXPECT_EQ(writer != INVALID_HANDLE_VALUE, c.othersMayWrite);
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
    } else {
        EXPECT_EQ(writeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }

    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) {
        CloseHandle(reader);
    }
    file.Close();
}

// The other order: a file some program is writing cannot be taken with read sharing only, so
// a payload cannot change under an update that has just started.
TEST_P(WindowsOsFileShare, OpenWhileAnotherProgramWrites) {
    const ShareCase& c = GetParam();
    TempFolder folder(L"tolvex_share_writer");
    const std::wstring path = folder.Write(L"update.tvu", SampleUpdate());
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    OsFile file;
    EXPECT_EQ(file.Open(Utf8(path), c.share), c.othersMayWrite);
    file.Close();
    CloseHandle(writer);
}

INSTANTIATE_TEST_SUITE_P(Modes, WindowsOsFileShare,
                         ::testing::Values(ShareCase{"ReadOnly", OsFile::Share::ReadOnly, false},
                                           ShareCase{"Any", OsFile::Share::Any, true}),
                         [](const auto& test) { return std::string(test.param.name); });

// The probe DLL is built beside this test's executable.
constexpr char kProbe[] = "tolvex_probe.dll";
using ProbeAnswerFn = DWORD(WINAPI*)(DWORD);

bool SameFileName(const std::string& a, const std::wstring& b) {
    std::wstring wide(a.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, a.data(), static_cast<int>(a.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    return CompareStringOrdinal(wide.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

TEST(WindowsDynamicLibrary, LoadsFromTheApplicationFolderByBareName) {
    DynamicLibrary library;
    ASSERT_TRUE(library.Load(kProbe)) << library.ErrorText();
    EXPECT_TRUE(SameFileName(library.LoadedPath(), ModuleDirectory() + L"\\tolvex_probe.dll"))
        << library.LoadedPath();
    const auto answer = reinterpret_cast<ProbeAnswerFn>(library.Resolve("TolvexProbeAnswer"));
    ASSERT_NE(answer, nullptr) << library.ErrorText();
    EXPECT_EQ(answer(1), 43u);
}

TEST(WindowsDynamicLibrary, LoadsFromTheSystemFolderByBareName) {
    // A system DLL this test does not link against, so the search really has to find it.
    DynamicLibrary library;
    ASSERT_TRUE(library.Load("version.dll")) << library.ErrorText();
    std::wstring system(MAX_PATH + 1, L'\0');
    system.resize(GetSystemDirectoryW(system.data(), static_cast<UINT>(system.size())));
    EXPECT_TRUE(SameFileName(library.LoadedPath(), system + L"\\version.dll"))
        << library.LoadedPath();
}

// The planted-DLL attack: a DLL in the current directory (say, the download folder the user
// opened the update file from) must not be loaded by bare name. The control loads prove that
// the DLL itself is loadable and that the system's default search would have picked it up, so
// the refusal comes from the restricted search and not from a broken file.
TEST(WindowsDynamicLibrary, NeverLoadsFromTheCurrentDirectory) {
    TempFolder folder(L"tolvex_cwd");
    const std::wstring planted =
        folder.Copy(ModuleDirectory() + L"\\tolvex_probe.dll", L"tolvex_cwd_probe.dll");
    std::wstring previous(32768, L'\0');
    previous.resize(GetCurrentDirectoryW(static_cast<DWORD>(previous.size()), previous.data()));
    ASSERT_NE(SetCurrentDirectoryW(folder.Path().c_str()), 0);

    DynamicLibrary library;
    const bool loaded = library.Load("tolvex_cwd_probe.dll");
    const std::string error = library.ErrorText();
    library.Release();

    HMODULE legacy = LoadLibraryW(L"tolvex_cwd_probe.dll");
    const bool legacyLoaded = legacy != nullptr;
    if (legacy != nullptr) {
        FreeLibrary(legacy);
    }
    DynamicLibrary byPath;
    const bool byPathLoaded = byPath.Load(Utf8(planted));
    byPath.Release();
    SetCurrentDirectoryW(previous.c_str());

    EXPECT_FALSE(loaded) << "loaded from the current directory";
    EXPECT_NE(error.find("tolvex_cwd_probe.dll"), std::string::npos) << error;
    EXPECT_TRUE(legacyLoaded) << "the default search does not look in the current directory "
                                 "here, so this test cannot show anything";
    EXPECT_TRUE(byPathLoaded) << "the planted copy is not a loadable DLL";
}

TEST(WindowsDynamicLibrary, ReportsMissingLibrariesAndNames) {
    DynamicLibrary missing;
    EXPECT_FALSE(missing.Load("tolvex_no_such_library.dll"));
    EXPECT_FALSE(missing.IsLoaded());
    EXPECT_NE(missing.ErrorText().find("tolvex_no_such_library.dll"), std::string::npos)
        << missing.ErrorText();
    EXPECT_NE(missing.ErrorText().find("error 126"), std::string::npos) << missing.ErrorText();
    EXPECT_EQ(missing.Resolve("TolvexProbeAnswer"), nullptr);

    DynamicLibrary library;
    ASSERT_TRUE(library.Load(kProbe)) << library.ErrorText();
    EXPECT_EQ(library.Resolve("NoSuchExport"), nullptr);
    EXPECT_NE(library.ErrorText().find("NoSuchExport"), std::string::npos) << library.ErrorText();
    EXPECT_NE(library.ErrorText().find("error 127"), std::string::npos) << library.ErrorText();
}

// Ownership: the module stays mapped exactly as long as one owner holds it.
TEST(WindowsDynamicLibrary, ReleaseAndMoveUnmapTheModuleOnce) {
    ASSERT_EQ(GetModuleHandleW(L"tolvex_probe.dll"), nullptr);
    {
        DynamicLibrary first;
        ASSERT_TRUE(first.Load(kProbe)) << first.ErrorText();
        DynamicLibrary second(std::move(first));
        EXPECT_FALSE(first.IsLoaded());  // NOLINT(bugprone-use-after-move): moved-from state
        EXPECT_TRUE(second.IsLoaded());
        first.Release();
        EXPECT_NE(GetModuleHandleW(L"tolvex_probe.dll"), nullptr);

        DynamicLibrary third;
        third = std::move(second);
        EXPECT_NE(GetModuleHandleW(L"tolvex_probe.dll"), nullptr);
        third.Release();
        third.Release();
        EXPECT_EQ(GetModuleHandleW(L"tolvex_probe.dll"), nullptr);
        EXPECT_TRUE(third.LoadedPath().empty());

        ASSERT_TRUE(third.Load(kProbe));
    }
    EXPECT_EQ(GetModuleHandleW(L"tolvex_probe.dll"), nullptr) << "the destructor did not release";
}

}  // namespace
}  // namespace tolvex
