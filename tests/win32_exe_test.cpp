// The built executable as Windows sees it: its version record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

#include "tavrimo_version.h"

namespace {

std::wstring Query(const std::vector<char>& block, const wchar_t* path)
{
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), path, &value, &length) || length == 0) return L"";
    return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(Executable, VersionRecordReadsBack)
{
    const wchar_t* exe = TAVRIMO_EXE;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe, &handle);
    ASSERT_GT(size, 0u) << "no version record";
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD version = (TAVRIMO_VERSION_MAJOR << 16) | TAVRIMO_VERSION_MINOR;
    EXPECT_EQ(fixed->dwFileVersionMS, version);
    EXPECT_EQ(fixed->dwProductVersionMS, version);

    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, sizeof(Translation));
    EXPECT_EQ(translation->language, 0x0404);
    EXPECT_EQ(translation->codePage, 1200);

    EXPECT_EQ(Query(block, L"\\StringFileInfo\\040404B0\\FileVersion"), L"" TAVRIMO_VERSION);
    EXPECT_EQ(Query(block, L"\\StringFileInfo\\040404B0\\ProductVersion"), L"" TAVRIMO_VERSION);
    EXPECT_EQ(Query(block, L"\\StringFileInfo\\040404B0\\ProductName"), L"Tavrimo");
    EXPECT_NE(Query(block, L"\\StringFileInfo\\040404B0\\LegalCopyright").find(L"MIT"),
              std::wstring::npos);
}

TEST(Executable, CarriesTheIconAndTheLogo)
{
    HMODULE module = LoadLibraryExW(TAVRIMO_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HICON small = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0));
    HICON large = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(small, nullptr);
    EXPECT_NE(large, nullptr);
    HBITMAP logo = static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(101), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(logo, nullptr);
    BITMAP bm{};
    GetObjectW(logo, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, 164);
    EXPECT_EQ(bm.bmHeight, 205);
    EXPECT_EQ(bm.bmBitsPixel, 24);
    DeleteObject(logo);
    if (small) DestroyIcon(small);
    if (large) DestroyIcon(large);
    FreeLibrary(module);
}

}  // namespace
