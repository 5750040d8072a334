/*
 * The host's checking allocator behind NewMemAlloc and NewDoMemFree. Every
 * block carries the source name and line it was asked for with, and guard bytes
 * on both sides. A free checks the guards, and tells a double free from a
 * pointer the host never gave out: freed blocks stay quarantined (filled, never
 * reused) until the host shuts down, so a stale pointer is always recognised.
 * Leaks are the blocks still live at a check.
 */
#include "sim/host/HostInternal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#define ALLOC_LIVE        0x4556494Cu /* "LIVE" */
#define ALLOC_FREED       0x45455246u /* "FREE" */
#define ALLOC_NEW_FILL    0xCDu       /* fresh memory is not zero: callers must initialise */
#define ALLOC_FREED_FILL  0xDDu
#define ALLOC_LARGEST     (256u * 1024u * 1024u)
#define QUARANTINE_BLOCKS 65536u

struct AllocHeader {
    DWORD magic;
    DWORD size;
    DWORD serial;
    int line;
    char source[48];
    char freedAt[64];
};

static std::map<const void*, AllocHeader*> s_live;
static std::map<const void*, AllocHeader*> s_freed;
static std::vector<AllocHeader*> s_quarantine;
static size_t s_allocationCount;
static unsigned s_failCountdown;
static DWORD s_nextSerial = 1;

static BYTE* UserBytes(AllocHeader* header) {
    return reinterpret_cast<BYTE*>(header) + sizeof(AllocHeader) + REF_GUARD_BYTES;
}

static BYTE* FrontGuard(AllocHeader* header) {
    return reinterpret_cast<BYTE*>(header) + sizeof(AllocHeader);
}

static BYTE* RearGuard(AllocHeader* header) {
    return UserBytes(header) + header->size;
}

static int GuardIntact(const BYTE* guard) {
    for (unsigned i = 0; i < REF_GUARD_BYTES; ++i) {
        if (guard[i] != REF_GUARD_FILL) {
            return 0;
        }
    }
    return 1;
}

/* Journals a violation for each damaged guard; returns 1 when both are intact. */
static int CheckGuards(AllocHeader* header, const char* when) {
    int intact = 1;
    if (!GuardIntact(FrontGuard(header))) {
        JournalViolation("guard bytes before the block of %lu bytes from %s:%d overwritten (%s)",
                         static_cast<unsigned long>(header->size), header->source, header->line,
                         when);
        intact = 0;
    }
    if (!GuardIntact(RearGuard(header))) {
        JournalViolation("guard bytes after the block of %lu bytes from %s:%d overwritten (%s)",
                         static_cast<unsigned long>(header->size), header->source, header->line,
                         when);
        intact = 0;
    }
    return intact;
}

static int FailThisAllocation(void) {
    if (s_failCountdown == 0) {
        return 0;
    }
    --s_failCountdown;
    return s_failCountdown == 0;
}

void* WINAPI Host_NewMemAlloc(DWORD size, const char* sourceFile, int line) {
    ++s_allocationCount;
    void* result = nullptr;
    if (!FailThisAllocation() && size <= ALLOC_LARGEST) {
        AllocHeader* header = static_cast<AllocHeader*>(
            std::malloc(sizeof(AllocHeader) + 2 * REF_GUARD_BYTES + size));
        if (header) {
            std::memset(header, 0, sizeof(AllocHeader));
            header->magic = ALLOC_LIVE;
            header->size = size;
            header->serial = s_nextSerial++;
            header->line = line;
            CopyText(header->source, sourceFile ? sourceFile : "(no source)",
                     sizeof header->source);
            std::memset(FrontGuard(header), REF_GUARD_FILL, REF_GUARD_BYTES);
            std::memset(UserBytes(header), ALLOC_NEW_FILL, size);
            std::memset(RearGuard(header), REF_GUARD_FILL, REF_GUARD_BYTES);
            result = UserBytes(header);
            s_live[result] = header;
        }
    }
    JournalCall("NewMemAlloc", reinterpret_cast<DWORD>(result), size, 0, 0, sourceFile, line);
    return result;
}

static void Quarantine(AllocHeader* header, const void* block) {
    if (s_quarantine.size() >= QUARANTINE_BLOCKS) {
        AllocHeader* oldest = s_quarantine.front();
        s_freed.erase(UserBytes(oldest));
        s_quarantine.erase(s_quarantine.begin());
        std::free(oldest);
    }
    s_quarantine.push_back(header);
    s_freed[block] = header;
}

void WINAPI Host_NewDoMemFree(void* block, const char* sourceFile, int line) {
    JournalCall("NewDoMemFree", reinterpret_cast<DWORD>(block), 0, 0, 0, sourceFile, line);
    const char* source = sourceFile ? sourceFile : "(no source)";
    if (!block) {
        JournalViolation("NewDoMemFree of a null pointer at %s:%d", source, line);
        return;
    }
    std::map<const void*, AllocHeader*>::iterator live = s_live.find(block);
    if (live == s_live.end()) {
        std::map<const void*, AllocHeader*>::iterator freed = s_freed.find(block);
        if (freed != s_freed.end()) {
            JournalViolation("double free at %s:%d of the block of %lu bytes from %s:%d, "
                             "already freed at %s",
                             source, line, static_cast<unsigned long>(freed->second->size),
                             freed->second->source, freed->second->line, freed->second->freedAt);
        } else {
            JournalViolation("NewDoMemFree at %s:%d of %p, which NewMemAlloc never returned",
                             source, line, block);
        }
        return;
    }
    AllocHeader* header = live->second;
    s_live.erase(live);
    char when[80];
    std::snprintf(when, sizeof when, "found when freed at %.40s:%d", source, line);
    CheckGuards(header, when);
    header->magic = ALLOC_FREED;
    std::snprintf(header->freedAt, sizeof header->freedAt, "%.40s:%d", source, line);
    std::memset(UserBytes(header), ALLOC_FREED_FILL, header->size);
    Quarantine(header, block);
}

static std::vector<AllocHeader*> LiveInOrder(void) {
    std::vector<AllocHeader*> blocks;
    for (std::map<const void*, AllocHeader*>::const_iterator it = s_live.begin();
         it != s_live.end(); ++it) {
        blocks.push_back(it->second);
    }
    std::sort(blocks.begin(), blocks.end(),
              [](const AllocHeader* a, const AllocHeader* b) { return a->serial < b->serial; });
    return blocks;
}

size_t RefHost_CheckLeaks(void) {
    std::vector<AllocHeader*> blocks = LiveInOrder();
    for (size_t i = 0; i < blocks.size(); ++i) {
        char text[96];
        std::snprintf(text, sizeof text, "%s:%d %lu", blocks[i]->source, blocks[i]->line,
                      static_cast<unsigned long>(blocks[i]->size));
        JournalAdd(J_LEAK, text, blocks[i]->size, static_cast<DWORD>(blocks[i]->line), 0);
    }
    return blocks.size();
}

/* A quarantined block keeps its fill unless someone wrote through a stale
   pointer; the guards around it are checked too. */
static int FreedBlockIntact(AllocHeader* header) {
    const BYTE* bytes = UserBytes(header);
    for (DWORD i = 0; i < header->size; ++i) {
        if (bytes[i] != ALLOC_FREED_FILL) {
            JournalViolation("the block of %lu bytes from %s:%d was written at byte %lu after "
                             "it was freed at %s",
                             static_cast<unsigned long>(header->size), header->source, header->line,
                             static_cast<unsigned long>(i), header->freedAt);
            return 0;
        }
    }
    return CheckGuards(header, "found by a check of freed blocks");
}

size_t RefHost_CheckGuards(void) {
    std::vector<AllocHeader*> blocks = LiveInOrder();
    size_t damaged = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        damaged += CheckGuards(blocks[i], "found by a check of live blocks") ? 0 : 1;
    }
    return damaged;
}

size_t RefHost_CheckFreedBlocks(void) {
    size_t damaged = 0;
    for (size_t i = 0; i < s_quarantine.size(); ++i) {
        damaged += FreedBlockIntact(s_quarantine[i]) ? 0 : 1;
    }
    return damaged;
}

int RefHost_BlockSource(const void* block, char* source, size_t size, int* line) {
    std::map<const void*, AllocHeader*>::const_iterator it = s_live.find(block);
    if (it == s_live.end()) {
        return 0;
    }
    CopyText(source, it->second->source, size);
    if (line) {
        *line = it->second->line;
    }
    return 1;
}

size_t RefHost_LiveBlocks(void) {
    return s_live.size();
}

size_t RefHost_AllocationCount(void) {
    return s_allocationCount;
}

size_t RefHost_LeakCount(void) {
    return RefHost_CountKind(J_LEAK);
}

void RefHost_FailAllocation(unsigned n) {
    s_failCountdown = n;
}

void ReleaseAllocator(void) {
    for (std::map<const void*, AllocHeader*>::iterator it = s_live.begin(); it != s_live.end();
         ++it) {
        std::free(it->second);
    }
    for (size_t i = 0; i < s_quarantine.size(); ++i) {
        std::free(s_quarantine[i]);
    }
    s_live.clear();
    s_freed.clear();
    s_quarantine.clear();
    s_allocationCount = 0;
    s_failCountdown = 0;
}
