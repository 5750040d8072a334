/*
 * The real extension admitted by the reference host: the lookups arrive in the
 * protocol order with every name answered, then the registrations.
 */
#include <gtest/gtest.h>
#include <cstring>
#include "sim/host/RefHost.h"

namespace {

struct SharedRow {
    const char* name;
    DWORD size;
};
const SharedRow kShared[] = {
    {"fGlobalMilliSecondsPerSample", 8},
    {"uiGlobalBlockSize", 4},
    {"bAnimation", 4},
    {"bExperimentIsRunning", 4},
    {"bExperimentIsPaused", 4},
    {"dwExperimentStartTimeTicks", 4},
    {"BBoxModul", 4},
};

class Admission : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(1, RefHost_Create(GetModuleHandleA(nullptr), 0));
        RefHost_ClearJournal();
    }
    void TearDown() override {
        RefHost_Destroy();
    }
};

TEST_F(Admission, LooksUpEveryNameInOrderThenRegisters) {
    ASSERT_EQ(1, RefHost_LoadExtension("Orvik_qx4.dll"));
    EXPECT_EQ(1, RefHost_Admitted());
    ASSERT_GE(RefHost_JournalSize(), 59u + 102u + 8u);
    size_t at = 0;
    for (unsigned i = 0; i < RefHost_VariableNameCount(); ++i, ++at) {
        const JournalEntry* e = RefHost_JournalEntry(at);
        SCOPED_TRACE(RefHost_VariableName(i));
        EXPECT_EQ(J_GETVAR, e->kind);
        EXPECT_STREQ(RefHost_VariableName(i), e->text);
        EXPECT_NE(0u, e->value);
    }
    for (unsigned i = 0; i < RefHost_FunctionNameCount(); ++i, ++at) {
        const JournalEntry* e = RefHost_JournalEntry(at);
        SCOPED_TRACE(RefHost_FunctionName(i));
        EXPECT_EQ(J_GETFUNC, e->kind);
        EXPECT_STREQ(RefHost_FunctionName(i), e->text);
        EXPECT_NE(0u, e->value);
    }
    EXPECT_STREQ("DefineDllModule", RefHost_JournalEntry(at++)->text);
    for (const SharedRow& row : kShared) {
        const JournalEntry* e = RefHost_JournalEntry(at++);
        EXPECT_STREQ("DefineDllVariable", e->text);
        EXPECT_STREQ(row.name, e->source);
        EXPECT_EQ(row.size, e->b);
        EXPECT_EQ(row.size, RefHost_VariableSize(row.name));
    }
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION));
    EXPECT_EQ(1, RefHost_UnloadExtension());
}

TEST_F(Admission, ARefusedRequiredNameEndsTheLookups) {
    RefHost_RefuseName("DateTrenn");
    EXPECT_EQ(0, RefHost_LoadExtension("Orvik_qx4.dll"));
    EXPECT_EQ(0, RefHost_Admitted());
    EXPECT_EQ(22u, RefHost_CountKind(J_GETVAR));
    EXPECT_EQ(0u, RefHost_CountKind(J_GETFUNC));
    RefHost_UnloadExtension();
}

} // namespace
