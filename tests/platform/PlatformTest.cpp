// The platform a test run claims to be: the prefix kind (a 32-bit program
// alone, or under WoW64 on 64-bit Windows), the Windows version it reports,
// and the Japanese settings every suite relies on.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct ReportedVersion {
    const char* name;
    DWORD major;
    DWORD minor;
};

const ReportedVersion kVersions[] = {
    {"winxp", 5, 1}, {"vista", 6, 0}, {"win7", 6, 1},
    {"win8", 6, 2},  {"win81", 6, 3}, {"win10", 10, 0},
};

std::string EnvOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// GetVersionEx answers programs without a manifest with an older version from
// Windows 8.1 on; the kernel's own answer is the one the prefix was set to.
int KernelVersion(DWORD* major, DWORD* minor) {
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    RtlGetVersionFn get = ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
                                      GetProcAddress(ntdll, "RtlGetVersion")))
                                : nullptr;
    if (!get) {
        return 0;
    }
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (get(&info) != 0) {
        return 0;
    }
    *major = info.dwMajorVersion;
    *minor = info.dwMinorVersion;
    return 1;
}

} // namespace

TEST(Platform, ReportsTheWindowsVersionAsked) {
    const std::string asked = EnvOr("ORVIK_WINVER", "win7");
    const ReportedVersion* expected = nullptr;
    for (const ReportedVersion& v : kVersions) {
        if (asked == v.name) {
            expected = &v;
        }
    }
    ASSERT_NE(nullptr, expected) << "unknown ORVIK_WINVER " << asked;
    DWORD major = 0, minor = 0;
    ASSERT_TRUE(KernelVersion(&major, &minor));
    EXPECT_EQ(expected->major, major) << asked;
    EXPECT_EQ(expected->minor, minor) << asked;
}

TEST(Platform, RunsUnderWow64ExactlyInA64BitPrefix) {
    const bool asked64 = EnvOr("ORVIK_WINEARCH", "win32") == "win64";
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(asked64, wow64 != FALSE);

    // A 32-bit Windows has no folder of 32-bit system files apart from the 64-bit ones.
    char dir[MAX_PATH] = {};
    UINT n = GetSystemWow64DirectoryA(dir, MAX_PATH);
    if (asked64) {
        ASSERT_GT(n, 0u);
        EXPECT_EQ(0, _stricmp(dir + n - 8, "syswow64")) << dir;
    } else {
        EXPECT_EQ(0u, n) << dir;
    }
}

TEST(Platform, HasTheJapaneseSettingsTheDialogsNeed) {
    EXPECT_EQ(932u, GetACP());

    // The caption fonts and the replacements for the Japanese system fonts are
    // written once per prefix; one font folder serves 32- and 64-bit programs.
    char fonts[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryA(fonts, MAX_PATH - 32), 0u);
    std::strcat(fonts, "\\Fonts\\tahoma.ttf");
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(fonts)) << fonts;

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Fonts\\Replacements",
                                           0, KEY_READ, &key));
    char face[64] = {};
    DWORD size = sizeof face;
    LONG found = RegQueryValueExA(key, "MS UI Gothic", nullptr, nullptr,
                                  reinterpret_cast<BYTE*>(face), &size);
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS, found);
    EXPECT_STREQ("IPAPGothic", face);
}
