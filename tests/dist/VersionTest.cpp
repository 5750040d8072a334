/*
 * The version information that Explorer's Properties page shows for the built
 * Orvik_qx4.dll, read back the way Windows reads it, and checked against what
 * the DLL itself shows in its About box.
 */
#include <gtest/gtest.h>

#include "resources/ResourceIds.h"

#include <windows.h>

#include <string>
#include <vector>

/* The DLL the build put beside this test program. */
static std::string BuiltDllPath() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1) + "Orvik_qx4.dll";
}

struct VersionBlock {
    std::vector<char> bytes;

    VersionBlock() {
        std::string path = BuiltDllPath();
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        if (size == 0)
            return;
        bytes.resize(size);
        if (!GetFileVersionInfoA(path.c_str(), 0, size, bytes.data()))
            bytes.clear();
    }

    /* The text of one value of a language block, or "(missing)". */
    std::string Text(const char* block, const char* name) {
        std::string query = std::string("\\StringFileInfo\\") + block + "\\" + name;
        void* value = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(bytes.data(), query.c_str(), &value, &length) || !value)
            return "(missing)";
        return std::string(static_cast<const char*>(value));
    }
};

/* What the About box shows: its version line from the string table and its
   fixed second line from the dialog template. */
struct AboutTexts {
    std::string version;
    std::string owner;
};

static INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

static AboutTexts ReadAboutBox(HMODULE dll) {
    AboutTexts texts;
    char text[128] = "";
    LoadStringA(dll, IDS_MODULE_VERSION, text, sizeof text);
    texts.version = text;
    HWND box = CreateDialogParamA(dll, "ABOUT", nullptr, QuietDialogProc, 0);
    for (HWND child = box ? GetWindow(box, GW_CHILD) : nullptr; child;
         child = GetWindow(child, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(child);
        if (id == IDOK || id == IDC_ABOUT_VERSION)
            continue;
        GetWindowTextA(child, text, sizeof text);
        texts.owner = text;
    }
    if (box)
        DestroyWindow(box);
    return texts;
}

TEST(VersionResource, FixedPartNamesVersionTwoOfADll) {
    VersionBlock info;
    ASSERT_FALSE(info.bytes.empty()) << "no version information in " << BuiltDllPath();
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.bytes.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(MAKELONG(0, 2), fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(0, 2), fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileFlags & VS_FF_DEBUG);
}

TEST(VersionResource, OffersJapaneseFirstThenEnglish) {
    VersionBlock info;
    ASSERT_FALSE(info.bytes.empty());
    WORD* pairs = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.bytes.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&pairs), &length));
    ASSERT_EQ(8u, length);
    EXPECT_EQ(0x0411, pairs[0]);
    EXPECT_EQ(932, pairs[1]);
    EXPECT_EQ(0x0409, pairs[2]);
    EXPECT_EQ(1252, pairs[3]);
}

TEST(VersionResource, EachLanguageAgreesWithTheAboutBox) {
    HMODULE dll = LoadLibraryA(BuiltDllPath().c_str());
    ASSERT_NE(nullptr, dll);
    AboutTexts about = ReadAboutBox(dll);
    FreeLibrary(dll);
    ASSERT_EQ("RZX-DK08 Module Version 2.00", about.version);
    std::string version = about.version.substr(about.version.rfind(' ') + 1);
    ASSERT_FALSE(about.owner.empty());

    struct Expected {
        const char* block;
        const char* description;
    };
    /* The Japanese text reaches an 8-bit caller in code page 932, like every
       other text of the extension. */
    static const Expected kBlocks[] = {
        {"041103A4", "RZX-DK08 デジタル入出力モジュール (Orvik 拡張)"},
        {"040904E4", "RZX-DK08 digital I/O module (Orvik extension)"},
    };
    VersionBlock info;
    ASSERT_FALSE(info.bytes.empty());
    for (const Expected& expected : kBlocks) {
        SCOPED_TRACE(expected.block);
        EXPECT_EQ(version, info.Text(expected.block, "FileVersion"));
        EXPECT_EQ(version, info.Text(expected.block, "ProductVersion"));
        EXPECT_EQ("Orvik_qx4.dll", info.Text(expected.block, "OriginalFilename"));
        EXPECT_EQ(about.owner, info.Text(expected.block, "LegalCopyright"));
        EXPECT_EQ(expected.description, info.Text(expected.block, "FileDescription"));
        EXPECT_NE("(missing)", info.Text(expected.block, "ProductName"));
        EXPECT_NE("(missing)", info.Text(expected.block, "CompanyName"));
    }
}
