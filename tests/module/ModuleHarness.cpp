#include "ModuleHarness.h"

#include "extension/Library.h"
#include "module/Process.h"

#include <cstring>

DWORD g_fakeTick;

static DWORD FakeTick(void) {
    return g_fakeTick;
}

std::vector<TraceRow> CardTrace(void) {
    std::vector<TraceRow> rows;
    SimTraceEntry e;
    for (DWORD i = 0; SimCard_TraceEntry(i, &e); ++i)
        rows.push_back({e.call, e.socket, e.port, e.value});
    return rows;
}

std::vector<TraceRow> CardTrace(DWORD call) {
    std::vector<TraceRow> rows;
    for (const TraceRow& row : CardTrace()) {
        if (row.call == call)
            rows.push_back(row);
    }
    return rows;
}

static std::string Describe(const std::vector<TraceRow>& rows) {
    std::string text;
    char line[96];
    for (const TraceRow& r : rows) {
        snprintf(line, sizeof line, "  {%lu, s%lu, p%lu, 0x%lX}\n", r.call, r.socket, r.port,
                 r.value);
        text += line;
    }
    return text;
}

void ExpectTrace(const std::vector<TraceRow>& actual, const TraceRow* expected, size_t count) {
    std::vector<TraceRow> wanted(expected, expected + count);
    bool same = actual.size() == wanted.size();
    for (size_t i = 0; same && i < count; ++i)
        same = memcmp(&actual[i], &wanted[i], sizeof(TraceRow)) == 0;
    EXPECT_TRUE(same) << "card trace\n" << Describe(actual) << "expected\n" << Describe(wanted);
}

void HostedExtension::SetUp() {
    SetLibraryInstance(GetModuleHandleA(nullptr));
    ASSERT_EQ(1, SimCard_Reset(nullptr));
    RefHost_ClearJournal();
    ASSERT_EQ(1, RefHost_Create(GetModuleHandleA(nullptr), 0));
    ASSERT_EQ(1, RefHost_AdmitLinkedExtension(SetupOrvikDLL, FinishOrvikDLL));
    ASSERT_NE(nullptr, RefHost_ModuleClass());
    g_fakeTick = 1000;
    SetTickSource(FakeTick);
    SimCard_ClearTrace();
}

void HostedExtension::TearDown() {
    SetTickSource(nullptr);
    RefHost_StopExperiment();
    RefHost_UnloadExtension();
    EXPECT_EQ(0u, RefHost_CheckLeaks());
    RefHost_Destroy();
}

RefModule* RestoreModuleOn(unsigned socket, unsigned port, DWORD inputs, DWORD outputs) {
    ModuleSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.socket = static_cast<WORD>(socket);
    settings.port = port;
    return RefHost_RestoreModule("DK", "", inputs, outputs, &settings);
}

RefModule* HostedExtension::Restore(unsigned socket, unsigned port, DWORD inputs, DWORD outputs) {
    return RestoreModuleOn(socket, port, inputs, outputs);
}

void HostedExtension::Start(double msPerSample, DWORD blockSize) {
    ASSERT_EQ(1, RefHost_StartExperiment(msPerSample, blockSize));
    RefHost_SetStartTicks(g_fakeTick);
}

size_t HostedExtension::Warnings(void) const {
    return RefHost_CountKind(J_WARNING);
}

void DeliverPostedMessages(void) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

size_t WarningsCaptioned(const char* caption) {
    size_t count = 0;
    size_t length = strlen(caption);
    for (size_t i = 0; i < RefHost_JournalSize(); ++i) {
        const JournalEntry* e = RefHost_JournalEntry(i);
        if (e->kind == J_WARNING && strncmp(e->text, caption, length) == 0 &&
            e->text[length] == '\n')
            ++count;
    }
    return count;
}

static HHOOK s_hook;
static WORD s_command;

static LRESULT CALLBACK AnswerOnActivate(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char cls[16];
        if (GetClassNameA(window, cls, sizeof cls) && strcmp(cls, "#32770") == 0) {
            PostMessageA(window, WM_COMMAND, s_command, 0);
            UnhookWindowsHookEx(s_hook);
            s_hook = nullptr;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void AnswerNextDialog(WORD command) {
    s_command = command;
    s_hook = SetWindowsHookExA(WH_CBT, AnswerOnActivate, nullptr, GetCurrentThreadId());
}
