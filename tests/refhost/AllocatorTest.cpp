/*
 * The checking allocator behind NewMemAlloc and NewDoMemFree, reached through
 * the lookup protocol: damaged guards, double and foreign frees, leaks with
 * their source tags, and the fail-the-n-th-allocation control.
 */
#include "HostFixture.h"

namespace {

PFN_NewMemAlloc Alloc(void) {
    return Service<PFN_NewMemAlloc>("NewMemAlloc");
}
PFN_NewDoMemFree Free(void) {
    return Service<PFN_NewDoMemFree>("NewDoMemFree");
}

using AllocatorTest = HostTest;

TEST_F(AllocatorTest, AnIntactBlockFreesWithoutViolation) {
    BYTE* block = static_cast<BYTE*>(Alloc()(64, "Dk08Main", 210));
    ASSERT_NE(nullptr, block);
    std::memset(block, 0x55, 64);
    char source[64];
    int line = 0;
    ASSERT_EQ(1, RefHost_BlockSource(block, source, sizeof source, &line));
    EXPECT_STREQ("Dk08Main", source);
    EXPECT_EQ(210, line);
    EXPECT_EQ(1u, RefHost_LiveBlocks());
    Free()(block, "Dk08Main", 248);
    EXPECT_EQ(0u, RefHost_LiveBlocks());
    EXPECT_EQ(0u, RefHost_CountKind(J_VIOLATION)) << Violations();
    const JournalEntry* last = RefHost_JournalEntry(RefHost_JournalSize() - 1);
    EXPECT_STREQ("NewDoMemFree", last->text);
    EXPECT_STREQ("Dk08Main:248", last->source);
}

struct Damage {
    const char* what;
    int offset; /* relative to the block's first byte */
    const char* reported;
};
const Damage kDamages[] = {
    {"the byte before", -1, "guard bytes before"},
    {"the first guard byte", -16, "guard bytes before"},
    {"the byte after", 10, "guard bytes after"},
    {"the last guard byte", 25, "guard bytes after"},
};

TEST_F(AllocatorTest, AWriteOutsideTheBlockIsReportedAtFree) {
    for (const Damage& d : kDamages) {
        SCOPED_TRACE(d.what);
        RefHost_ClearJournal();
        BYTE* block = static_cast<BYTE*>(Alloc()(10, "CtlDlg", 77));
        ASSERT_NE(nullptr, block);
        block[d.offset] ^= 0xFF;
        Free()(block, "CtlDlg", 99);
        EXPECT_EQ(1u, RefHost_CountKind(J_VIOLATION)) << Violations();
        EXPECT_TRUE(LastViolationContains(d.reported)) << Violations();
        EXPECT_TRUE(LastViolationContains("CtlDlg:77")) << Violations();
    }
}

TEST_F(AllocatorTest, ALiveBlockCheckFindsDamageBeforeAnyFree) {
    BYTE* good = static_cast<BYTE*>(Alloc()(8, "Process", 1));
    BYTE* bad = static_cast<BYTE*>(Alloc()(8, "Process", 2));
    bad[8] = 0;
    EXPECT_EQ(1u, RefHost_CheckGuards());
    Free()(good, "Process", 3);
    Free()(bad, "Process", 4);
}

TEST_F(AllocatorTest, AWriteThroughAStalePointerIsFoundInTheFreedBlock) {
    static const int kOffsets[] = {0, 7, -1, 8}; /* first, last, either guard */
    for (int offset : kOffsets) {
        SCOPED_TRACE(offset);
        RefHost_ClearJournal();
        BYTE* block = static_cast<BYTE*>(Alloc()(8, "Dk08Main", 210));
        ASSERT_NE(nullptr, block);
        Free()(block, "Dk08Main", 248);
        EXPECT_EQ(0u, RefHost_CheckFreedBlocks());
        block[offset] ^= 0x01;
        EXPECT_EQ(1u, RefHost_CheckFreedBlocks());
        EXPECT_TRUE(LastViolationContains("Dk08Main:210")) << Violations();
        block[offset] ^= 0x01; /* later rounds see only their own block */
    }
    EXPECT_EQ(0u, RefHost_CheckGuards()); /* live blocks only */
}

TEST_F(AllocatorTest, DoubleForeignAndNullFreesAreToldApart) {
    void* block = Alloc()(16, "Dk08Main", 210);
    Free()(block, "Dk08Main", 248);
    Free()(block, "Dk08Main", 249);
    EXPECT_TRUE(LastViolationContains("double free at Dk08Main:249")) << Violations();
    EXPECT_TRUE(LastViolationContains("already freed at Dk08Main:248")) << Violations();

    static char notFromTheHost[16];
    Free()(notFromTheHost, "CtlDlg", 5);
    EXPECT_TRUE(LastViolationContains("never returned")) << Violations();

    Free()(nullptr, "CtlDlg", 6);
    EXPECT_TRUE(LastViolationContains("null pointer")) << Violations();
    EXPECT_EQ(3u, RefHost_CountKind(J_VIOLATION));
}

TEST_F(AllocatorTest, LeaksAreListedWithSourceLineAndSize) {
    void* kept = Alloc()(208, "CtlDlg", 120);
    void* freed = Alloc()(5, "Dk08Main", 210);
    Free()(freed, "Dk08Main", 248);
    EXPECT_EQ(1u, RefHost_CheckLeaks());
    ASSERT_EQ(1u, RefHost_CountKind(J_LEAK));
    const JournalEntry* leak = RefHost_JournalEntry(RefHost_JournalSize() - 1);
    EXPECT_STREQ("CtlDlg:120 208", leak->text);
    EXPECT_EQ(1u, RefHost_LeakCount());
    Free()(kept, "CtlDlg", 130);
    EXPECT_EQ(0u, RefHost_CheckLeaks());
}

TEST_F(AllocatorTest, TheNthAllocationFailsOnce) {
    RefHost_FailAllocation(3);
    void* first = Alloc()(4, "t", 1);
    void* second = Alloc()(4, "t", 2);
    void* third = Alloc()(4, "t", 3);
    void* fourth = Alloc()(4, "t", 4);
    EXPECT_NE(nullptr, first);
    EXPECT_NE(nullptr, second);
    EXPECT_EQ(nullptr, third);
    EXPECT_NE(nullptr, fourth);
    EXPECT_EQ(4u, RefHost_AllocationCount());
    EXPECT_EQ(3u, RefHost_LiveBlocks());
    for (void* block : {first, second, fourth}) {
        Free()(block, "t", 9);
    }
}

TEST_F(AllocatorTest, FreshMemoryIsNotZero) {
    BYTE* block = static_cast<BYTE*>(Alloc()(32, "t", 1));
    int zero = 0;
    for (int i = 0; i < 32; ++i) {
        zero += block[i] == 0;
    }
    EXPECT_EQ(0, zero) << "callers must not rely on zeroed memory, so the host gives none";
    Free()(block, "t", 2);
}

} // namespace
