/*
 * Card traffic checks: the simulator's trace against an expected static table,
 * printed both ways on a mismatch. Call through EXPECT_CARD_TRACE so that a
 * failure names the caller's line.
 */
#pragma once

#include <gtest/gtest.h>

#include "sim/card/SimCard.h"

#include <cstdio>
#include <string>
#include <vector>

struct Traffic {
    DWORD call;
    DWORD socket;
    DWORD port;
    DWORD value;
    LONG result;
    DWORD flags;
};

inline std::vector<Traffic> CardTraffic(void) {
    std::vector<Traffic> rows;
    SimTraceEntry e;
    for (DWORD i = 0; SimCard_TraceEntry(i, &e); ++i)
        rows.push_back({e.call, e.socket, e.port, e.value, e.result, e.flags});
    return rows;
}

inline const char* CallName(DWORD call) {
    static const char* const kNames[] = {"?",      "GetVersion", "Create", "Close",   "GetRes",
                                         "InPort", "OutPort",    "SetDir", "LastErr", "Pulled"};
    return call < sizeof kNames / sizeof kNames[0] ? kNames[call] : "?";
}

inline std::string DescribeTraffic(const std::vector<Traffic>& rows) {
    std::string text;
    for (const Traffic& r : rows) {
        char line[128];
        snprintf(line, sizeof line, "  {%s, s=0x%lX, p=%lu, v=0x%lX, r=%ld, f=0x%lX}\n",
                 CallName(r.call), r.socket, r.port, r.value, r.result, r.flags);
        text += line;
    }
    return text.empty() ? "  (none)\n" : text;
}

inline bool SameTraffic(const Traffic& a, const Traffic& b) {
    return a.call == b.call && a.socket == b.socket && a.port == b.port && a.value == b.value &&
           a.result == b.result && a.flags == b.flags;
}

template <size_t N> void ExpectCardTrace(const Traffic (&expected)[N]) {
    std::vector<Traffic> actual = CardTraffic();
    bool same = actual.size() == N;
    for (size_t i = 0; same && i < N; ++i)
        same = SameTraffic(actual[i], expected[i]);
    EXPECT_TRUE(same) << "card trace:\n"
                      << DescribeTraffic(actual) << "expected:\n"
                      << DescribeTraffic(std::vector<Traffic>(expected, expected + N));
}

#define EXPECT_CARD_TRACE(expected)                                                                \
    do {                                                                                           \
        SCOPED_TRACE("card trace");                                                                \
        ExpectCardTrace(expected);                                                                 \
    } while (0)

inline void ExpectNoCardTraffic(void) {
    EXPECT_EQ(0u, SimCard_TraceCount()) << DescribeTraffic(CardTraffic());
}
