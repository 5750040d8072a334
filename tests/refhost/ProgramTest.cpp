/*
 * orvik-host.exe as a script sees it: each case starts the program as a child
 * process under the same Wine, with stdout and stderr going to a file, and
 * checks the exit code and a line that names the cause. The bytes captured
 * also show which encoding the program writes when its output is redirected.
 */
#include "HostFixture.h"

#include <cstdio>

namespace {

const char* const kOutput = "program-test.out";

const std::string kWriter = HexModule("writer", "inputs 3\noutputs 0\npattern 1 square:6\n", 0, 1);
const std::string kReader = HexModule("reader", "inputs 0\noutputs 8\n", 1, 0);
const std::string kNoCard = HexModule("nocard", "inputs 0\noutputs 8\n", 255, 0);
const std::string kHead = "orvik-worksheet 1\n";

void WriteFile(const char* path, const std::string& text) {
    FILE* file = std::fopen(path, "wb");
    ASSERT_NE(nullptr, file);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::string ProgramFolder(void) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/"));
}

struct Outcome {
    DWORD code;
    std::string output;
};

/* Runs orvik-host.exe with the arguments, the extension's fake mode set for it. */
Outcome RunHost(const std::string& arguments, const char* fakeMode = nullptr) {
    Outcome outcome = {0xFFFFFFFFu, ""};
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileA(kOutput, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return outcome;
    }
    SetEnvironmentVariableA("ORVIK_FAKE_EXTENSION", fakeMode);
    std::string command = "\"" + ProgramFolder() + "\\orvik-host.exe\" " + arguments;
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    PROCESS_INFORMATION process;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, 180000);
        GetExitCodeProcess(process.hProcess, &outcome.code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(file);
    SetEnvironmentVariableA("ORVIK_FAKE_EXTENSION", nullptr);
    outcome.output = ReadWholeFile(kOutput);
    return outcome;
}

class ProgramTest : public HostTest {
  protected:
    void TearDown() override {
        for (const char* name : {kOutput, "loop.ows", "reader.ows", "dropped.ows", "none.ows",
                                 "broken.ini", "named.ows", "named.csv", "badrate.ows"}) {
            std::remove(name);
        }
        HostTest::TearDown();
    }
};

/* A run slow enough to keep pace on a busy, emulated machine: 50 ms blocks. */
const char* const kCalmRun = "--batch --no-progress --rate 5 --block-size 10 --blocks 4 "
                             "--max-late-ms 1000 ";
/* A rate no machine here keeps: 0.1 ms blocks. */
const char* const kHastyRun = "--batch --no-progress --rate 0.001 --duration 0.5 ";

/* A module name, 読取A: code page 932 as the extension holds it, and UTF-8. */
const char kNameCp932[] = "\x93\xC7\x8E\xE6"
                          "A";
const char kNameUtf8[] = "\xE8\xAA\xAD\xE5\x8F\x96"
                         "A";

void CopyName(char* name) {
    std::memset(name, 0, MODULE_NAME_BYTES);
    std::memcpy(name, kNameCp932, sizeof kNameCp932);
}

struct ExitCase {
    const char* what;
    std::string arguments;
    const char* fakeMode;
    DWORD code;
    const char* line; /* words the output must hold */
};

TEST_F(ProgramTest, EachCauseHasItsExitCodeAndSaysWhy) {
    WriteFile("loop.ows", kHead + kWriter + kReader);
    WriteFile("reader.ows", kHead + kReader);
    WriteFile("dropped.ows", kHead + kWriter + kReader + kNoCard);
    WriteFile("none.ows", kHead + kNoCard);
    WriteFile("broken.ini", "this is no configuration\n");
    WriteFile("badrate.ows", kHead + "rate-ms fast\n" + kWriter + kReader);
    std::string calm = kCalmRun;
    std::string hasty = kHastyRun;
    const ExitCase cases[] = {
        {"help", "--help", nullptr, 0, "Exit codes"},
        {"all went well", calm + "--summary loop.ows", nullptr, 0, "loop held"},
        {"unknown option", "--frobnicate", nullptr, 2, "unknown option --frobnicate"},
        {"bad rate", "--batch --rate fast", nullptr, 2, "bad value for --rate: fast"},
        {"nothing to save", "--batch --save saved.ows", nullptr, 2, "--save saves the worksheet"},
        {"missing extension", "--batch --extension nothere.dll", nullptr, 2,
         "extension not found: nothere.dll"},
        {"missing worksheet", "--batch nothere.ows", nullptr, 2,
         "worksheet not found: nothere.ows"},
        {"missing configuration", "--batch --sim-config nothere.ini", nullptr, 2,
         "simulator configuration not found: nothere.ini"},
        {"broken configuration", "--batch --sim-config broken.ini loop.ows", nullptr, 2,
         "broken.ini rejected: line 1"},
        {"no extension", "--batch --extension rzxdk08.dll", nullptr, 3,
         "rzxdk08.dll: is no extension"},
        {"extension refused", "--batch --extension FakeExtension.dll", "refuse", 3,
         "FakeExtension.dll: SetupOrvikDLL answered 0"},
        {"leak", "--batch --no-progress --duration 0.1 --extension FakeExtension.dll", "leak", 4,
         "leaks: 1 block"},
        {"bad free", "--batch --no-progress --duration 0.1 --extension FakeExtension.dll",
         "badfree", 4, "contract violations: 1"},
        {"module dropped", calm + "dropped.ows", nullptr, 5, "dropped.ows: 2 module(s) loaded"},
        {"no module left", calm + "none.ows", nullptr, 5, "no module left"},
        {"bad rate line", calm + "badrate.ows", nullptr, 2, "rate-ms or block-size line is bad"},
        {"file not written", calm + "--csv Z:\\nothere\\run.csv loop.ows", nullptr, 6,
         "folder not found"},
        {"worksheet not saved", calm + "--save Z:\\nothere\\saved.ows loop.ows", nullptr, 6,
         "could not save Z:\\nothere\\saved.ows"},
        {"warning", "--batch --no-progress --duration 0.1 --extension FakeExtension.dll", "warn", 7,
         "warning: fake a warning from the fake extension"},
        {"fell behind", hasty + "--summary loop.ows", nullptr, 8, "run fell behind"},
        {"loop not checked", calm + "--summary reader.ows", nullptr, 9, "loop not checked"},
        /* Precedence: the smallest code of those that apply. */
        {"dropped and behind", hasty + "dropped.ows", nullptr, 5, "run fell behind"},
        {"not written and behind", hasty + "--csv Z:\\nothere\\run.csv loop.ows", nullptr, 6,
         "run fell behind"},
    };
    for (const ExitCase& c : cases) {
        Outcome outcome = RunHost(c.arguments, c.fakeMode);
        EXPECT_EQ(c.code, outcome.code) << c.what << "\n" << outcome.output;
        EXPECT_NE(std::string::npos, outcome.output.find(c.line)) << c.what << "\n"
                                                                  << outcome.output;
    }
}

size_t Occurrences(const std::string& text, const char* words) {
    size_t count = 0;
    for (size_t at = text.find(words); at != std::string::npos; at = text.find(words, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(ProgramTest, RedirectedOutputIsUtf8InEveryLineAndTheCsvKeepsCodePage932) {
    SetEnvironmentVariableA("RZXDK08_CONFIG", nullptr);
    ASSERT_EQ(1, RefHost_LoadExtension("Orvik_qx4.dll"));
    WriteFile("loop.ows", kHead + kWriter + kReader);
    ASSERT_EQ(2, RefHost_LoadWorksheet("loop.ows"));
    /* The worksheet's own form of the name is the loader's business. */
    CopyName(RefModule_Record(RefHost_Module(1))->name);
    ASSERT_EQ(1, RefHost_SaveWorksheet("named.ows"));
    Outcome outcome = RunHost(std::string(kCalmRun) + "--summary --csv named.csv named.ows");
    const std::string& out = outcome.output;
    /* The module list, the run's line for the module and the loop check. */
    EXPECT_GE(Occurrences(out, kNameUtf8), 3u) << out;
    EXPECT_EQ(0u, Occurrences(out, kNameCp932)) << "code page 932 bytes on the way out:\n" << out;
    std::string csv = ReadWholeFile("named.csv");
    EXPECT_GE(Occurrences(csv, kNameCp932), 1u);
    EXPECT_EQ(0u, Occurrences(csv, kNameUtf8));
}

} // namespace
