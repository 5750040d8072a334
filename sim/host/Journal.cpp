/*
 * The host's journal: every lookup, every service call, every warning shown,
 * every contract violation and every leak, in the order they happened. Tests
 * read it; the program prints parts of it. Counts by kind and by service stay
 * exact even when the journal is full and stops storing entries.
 */
#include "sim/host/HostInternal.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#define JOURNAL_CAPACITY 50000u
#define JOURNAL_KINDS    6u

static std::vector<JournalEntry> s_entries;
static size_t s_kindCounts[JOURNAL_KINDS];
static std::map<std::string, size_t> s_callCounts;
static int s_journalBlockCalls = 1;

void CopyText(char* destination, const char* source, size_t size) {
    if (size == 0) {
        return;
    }
    size_t n = 0;
    if (source) {
        while (n + 1 < size && source[n]) {
            destination[n] = source[n];
            ++n;
        }
    }
    destination[n] = 0;
}

static void Store(const JournalEntry& entry) {
    if (static_cast<unsigned>(entry.kind) < JOURNAL_KINDS) {
        ++s_kindCounts[entry.kind];
    }
    if (s_entries.size() < JOURNAL_CAPACITY) {
        s_entries.push_back(entry);
    }
}

void JournalAdd(JournalKind kind, const char* text, DWORD value, DWORD a, DWORD b) {
    JournalEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.kind = kind;
    CopyText(entry.text, text, sizeof entry.text);
    entry.value = value;
    entry.a = a;
    entry.b = b;
    Store(entry);
}

void JournalCallNamed(const char* service, DWORD value, DWORD a, DWORD b, DWORD c,
                      const char* source) {
    ++s_callCounts[service];
    JournalEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.kind = J_CALL;
    CopyText(entry.text, service, sizeof entry.text);
    entry.value = value;
    entry.a = a;
    entry.b = b;
    entry.c = c;
    CopyText(entry.source, source, sizeof entry.source);
    Store(entry);
}

void JournalCall(const char* service, DWORD value, DWORD a, DWORD b, DWORD c, const char* source,
                 int line) {
    char where[64] = "";
    if (source) {
        std::snprintf(where, sizeof where, "%.40s:%d", source, line);
    }
    JournalCallNamed(service, value, a, b, c, where);
}

void JournalBlockCall(const char* service, DWORD value, DWORD a, DWORD b, DWORD c,
                      const char* source, int line) {
    if (s_journalBlockCalls) {
        JournalCall(service, value, a, b, c, source, line);
    } else {
        ++s_callCounts[service];
    }
}

void JournalViolation(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    JournalAdd(J_VIOLATION, text, 0, 0, 0);
}

void SetJournalBlockCalls(int on) {
    s_journalBlockCalls = on;
}

void RefHost_SetJournalBlockCalls(int on) {
    s_journalBlockCalls = on;
}

int JournalBlockCalls(void) {
    return s_journalBlockCalls;
}

void ResetJournalCounters(void) {
    std::memset(s_kindCounts, 0, sizeof s_kindCounts);
    s_callCounts.clear();
}

size_t RefHost_JournalSize(void) {
    return s_entries.size();
}

const JournalEntry* RefHost_JournalEntry(size_t i) {
    return i < s_entries.size() ? &s_entries[i] : nullptr;
}

void RefHost_ClearJournal(void) {
    s_entries.clear();
    s_entries.shrink_to_fit();
    ResetJournalCounters();
}

size_t RefHost_CountKind(JournalKind kind) {
    return static_cast<unsigned>(kind) < JOURNAL_KINDS ? s_kindCounts[kind] : 0;
}

size_t RefHost_CountCalls(const char* serviceName) {
    std::map<std::string, size_t>::const_iterator it = s_callCounts.find(serviceName);
    return it == s_callCounts.end() ? 0 : it->second;
}
