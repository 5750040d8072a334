/*
 * The extension's card access against the simulator, without a host: the
 * guarded calls, the enumeration and closing of the sockets, and the
 * direction programming's card traffic.
 */
#include <gtest/gtest.h>

#include "card/DeviceTable.h"
#include "card/Driver.h"
#include "card/DriverAbi.h"
#include "card/Ppi8255.h"
#include "card/PortDirections.h"
#include "sim/card/SimCard.h"

#include "CardTrace.h"

#include <cstring>

#define MSG_REMOVED WM_DK08_CARD_REMOVED

class CardAccess : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(DriverLibraryLoaded());
        memset(DeviceTable(), 0, sizeof(DeviceEntry) * SOCKET_COUNT);
    }
    void TearDown() override {
        if (DriverLibraryLoaded())
            CloseDevices();
        EXPECT_FALSE(DriverLibraryLoaded());
    }
    /* Loads the driver and opens the cards of config, then forgets the traffic. */
    void Enumerate(const char* config) {
        ASSERT_EQ(1, SimCard_Reset(config));
        ASSERT_EQ(1, EnumerateDevices());
        SimCard_ClearTrace();
    }
};

TEST_F(CardAccess, GuardedCallsReachNothingWithoutTheLibrary) {
    ASSERT_EQ(1, SimCard_Reset(nullptr));
    DWORD socket = 0;
    BYTE value = 0;
    DriverResource resource;
    EXPECT_EQ(0, CardCreate(&socket, nullptr, MSG_REMOVED, 0));
    EXPECT_EQ(0, CardClose(0));
    EXPECT_EQ(0, CardGetResource(0, &resource));
    EXPECT_EQ(0, CardInPort(0, PORT_A, &value));
    EXPECT_EQ(0, CardOutPort(0, PORT_A, 1));
    EXPECT_EQ(0, CardSetDirection(0, 0x15));
    EXPECT_EQ(0, CardGetLastError(0));
    EXPECT_EQ(0, UnloadDriverLibrary());
    ExpectNoCardTraffic();
}

TEST_F(CardAccess, GuardsNarrowHandlesAndValuesAndPassTheRestUnchanged) {
    Enumerate("card 0 0 0 0 0\n");
    DWORD socket = 1;
    BYTE value = 0;
    DriverResource resource;
    EXPECT_EQ(0, CardCreate(&socket, nullptr, MSG_REMOVED, 0x12345678));
    EXPECT_EQ(1, CardOutPort(0x10000, PORT_CTRL, 0x180));
    EXPECT_EQ(1, CardSetDirection(0x10000, 0x12A));
    EXPECT_EQ(1, CardOutPort(0x10000, PORT_A, 0x1A5));
    EXPECT_EQ(1, CardInPort(0x10000, PORT_A, &value));
    EXPECT_EQ(0xA5, value);
    EXPECT_EQ(0, CardInPort(0x10000, 7, &value));
    EXPECT_EQ(SIMERR_BAD_PORT, CardGetLastError(0x10000));
    EXPECT_EQ(1, CardGetResource(0x10000, &resource));
    EXPECT_EQ(1, CardClose(0x10000));

    static const Traffic kExpected[] = {
        {SIM_CREATE, 1, 0x12345678, MSG_REMOVED, 0, 0},
        {SIM_OUTPORT, 0, PORT_CTRL, 0x80, 1, 0},
        {SIM_SETDIRECTION, 0, 0, 0x2A, 1, 0},
        {SIM_OUTPORT, 0, PORT_A, 0xA5, 1, 0},
        {SIM_INPORT, 0, PORT_A, 0xA5, 1, 0},
        {SIM_INPORT, 0, 7, 0, 0, 0},
        {SIM_GETLASTERROR, 0, 0, 0, SIMERR_BAD_PORT, 0},
        {SIM_GETRESOURCE, 0, 0, 0, 1, 0},
        {SIM_CLOSE, 0, 0, 0, 1, 0},
    };
    EXPECT_CARD_TRACE(kExpected);
}

/* Socket 0 answers; 1 answers Create with 2; 2 cannot give its resources;
   3 leaves a handle of its own whose low 16 bits must be used; 4..15 are empty. */
static const char kMixedSockets[] = "card 0 0x300 4 0x310 16\n"
                                    "card 1 0x320 4 0x330 16\n"
                                    "fault 1 create 2\n"
                                    "card 2 0x340 4 0x350 16\n"
                                    "fault 2 resource\n"
                                    "card 3 0x360 8 0x370 32\n"
                                    "handle 3 0x10043\n";

TEST_F(CardAccess, EnumerationRecordsMixedSocketsAndShutDownClosesOnlyThePresent) {
    ASSERT_EQ(1, SimCard_Reset(kMixedSockets));
    DeviceTable()[5].portInUse[1] = 1;
    DeviceTable()[5].portIsOutput[2] = 1;
    DeviceTable()[5].configured = 1;
    ASSERT_EQ(1, EnumerateDevices());

    static const Traffic kEnumeration[] = {
        {SIM_CREATE, 0, 0, MSG_REMOVED, 1, 0},
        {SIM_GETRESOURCE, 0, 0, 0, 1, 0},
        {SIM_CREATE, 1, 0, MSG_REMOVED, 2, SIMF_INJECTED},
        {SIM_CREATE, 2, 0, MSG_REMOVED, 1, 0},
        {SIM_GETRESOURCE, 2, 0, 0, 0, SIMF_INJECTED},
        {SIM_CLOSE, 2, 0, 0, 1, 0},
        {SIM_CREATE, 3, 0, MSG_REMOVED, 1, 0},
        {SIM_GETRESOURCE, 0x43, 0, 0, 1, 0},
        {SIM_CREATE, 4, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 5, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 6, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 7, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 8, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 9, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 10, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 11, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 12, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 13, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 14, 0, MSG_REMOVED, 0, 0},
        {SIM_CREATE, 15, 0, MSG_REMOVED, 0, 0},
    };
    EXPECT_CARD_TRACE(kEnumeration);

    static const DeviceEntry kPresent0 = {1, 0x300, 0x310, 4, 16, 0, {0, 0, 0}, {0, 0, 0}, 0};
    static const DeviceEntry kPresent3 = {1, 0x360, 0x370, 8, 32, 0x43, {0, 0, 0}, {0, 0, 0}, 0};
    static const DeviceEntry kAbsent = {0, 0, 0, 0, 0, NO_CARD_HANDLE, {0, 0, 0}, {0, 0, 0}, 0};
    for (unsigned s = 0; s < SOCKET_COUNT; ++s) {
        SCOPED_TRACE(s);
        const DeviceEntry& want = s == 0 ? kPresent0 : s == 3 ? kPresent3 : kAbsent;
        const DeviceEntry& have = DeviceTable()[s];
        EXPECT_EQ(want.status, have.status);
        EXPECT_EQ(want.ioBase1, have.ioBase1);
        EXPECT_EQ(want.ioBase2, have.ioBase2);
        EXPECT_EQ(want.ioLength1, have.ioLength1);
        EXPECT_EQ(want.ioLength2, have.ioLength2);
        EXPECT_EQ(want.handle, have.handle);
        EXPECT_EQ(0, memcmp(want.portInUse, have.portInUse, sizeof want.portInUse));
        EXPECT_EQ(0, memcmp(want.portIsOutput, have.portIsOutput, sizeof want.portIsOutput));
        EXPECT_EQ(0u, have.configured);
    }

    SimCard_ClearTrace();
    EXPECT_EQ(1, CloseDevices());
    static const Traffic kShutDown[] = {
        {SIM_CLOSE, 0, 0, 0, 1, 0},
        {SIM_CLOSE, 0x43, 0, 0, 1, 0},
    };
    EXPECT_CARD_TRACE(kShutDown);
    EXPECT_FALSE(DriverLibraryLoaded());
    EXPECT_EQ(1u, DeviceTable()[0].status) << "closing leaves the table alone";
}

TEST_F(CardAccess, EnumerationWithoutAnyCardStillSucceeds) {
    ASSERT_EQ(1, SimCard_Reset(""));
    ASSERT_EQ(1, EnumerateDevices());
    for (unsigned s = 0; s < SOCKET_COUNT; ++s) {
        EXPECT_EQ(0u, DeviceTable()[s].status);
        EXPECT_EQ(NO_CARD_HANDLE, DeviceTable()[s].handle);
    }
    EXPECT_EQ(SOCKET_COUNT, SimCard_TraceCount());
    SimCard_ClearTrace();
    EXPECT_EQ(1, CloseDevices());
    ExpectNoCardTraffic();
}

/* ---- Direction programming ---------------------------------------------------- */

struct DirectionCase {
    const char* what;
    DWORD inUse[3];
    DWORD isOutput[3];
    BYTE controlWord;
    BYTE second;
    BYTE third;
};

static const DirectionCase kDirectionCases[] = {
    {"A in, B in, C in", {1, 1, 1}, {0, 0, 0}, 0x9B, 0x15, 0x00},
    {"A in, B in, C out", {1, 1, 1}, {0, 0, 1}, 0x92, 0x35, 0x20},
    {"A in, B out, C in", {1, 1, 1}, {0, 1, 0}, 0x99, 0x19, 0x08},
    {"A in, B out, C out", {1, 1, 1}, {0, 1, 1}, 0x90, 0x39, 0x28},
    {"A out, B in, C in", {1, 1, 1}, {1, 0, 0}, 0x8B, 0x17, 0x02},
    {"A out, B in, C out", {1, 1, 1}, {1, 0, 1}, 0x82, 0x37, 0x22},
    {"A out, B out, C in", {1, 1, 1}, {1, 1, 0}, 0x89, 0x1F, 0x0A},
    {"A out, B out, C out", {1, 1, 1}, {1, 1, 1}, 0x80, 0x3F, 0x2A},
    {"only B, input; A and C stale output", {0, 1, 0}, {1, 0, 1}, 0x9B, 0x15, 0x00},
    {"only A, output; B and C stale output", {1, 0, 0}, {1, 1, 1}, 0x8B, 0x17, 0x02},
    {"A in, B out; C free with stale output", {1, 1, 0}, {0, 1, 1}, 0x99, 0x19, 0x08},
};

/* The control word and the third value follow from the effective directions;
   the second value is data and is not rebuilt. */
static void ExpectDerivableColumns(const DirectionCase& c) {
    unsigned out[3];
    for (unsigned p = 0; p < 3; ++p)
        out[p] = c.inUse[p] && c.isOutput[p];
    unsigned word = CW_MODE_SET | (out[PORT_A] ? 0 : CW_A_INPUT) | (out[PORT_B] ? 0 : CW_B_INPUT) |
                    (out[PORT_C] ? 0 : CW_C_HI_INPUT | CW_C_LO_INPUT);
    unsigned third = (out[PORT_A] ? DIR_A_OUTPUT : 0) | (out[PORT_B] ? DIR_B_OUTPUT : 0) |
                     (out[PORT_C] ? DIR_C_OUTPUT : 0);
    EXPECT_EQ(word, c.controlWord);
    EXPECT_EQ(third, c.third);
}

static ModuleRecord ModuleOnSocket(ModuleSettings* settings, unsigned socket, unsigned port) {
    ModuleRecord module;
    memset(&module, 0, sizeof module);
    memset(settings, 0, sizeof *settings);
    settings->socket = static_cast<WORD>(socket);
    settings->port = port;
    module.settings = settings;
    return module;
}

TEST_F(CardAccess, DirectionTableDrivesTheFourCallsAndLeavesTheDeviceTableAlone) {
    Enumerate("card 0 0 0 0 0\ncard 2 0 0 0 0\n");
    ModuleSettings settings;
    ModuleRecord module = ModuleOnSocket(&settings, 2, PORT_B);
    for (const DirectionCase& c : kDirectionCases) {
        SCOPED_TRACE(c.what);
        ExpectDerivableColumns(c);
        DeviceEntry& entry = DeviceTable()[2];
        memcpy(entry.portInUse, c.inUse, sizeof entry.portInUse);
        memcpy(entry.portIsOutput, c.isOutput, sizeof entry.portIsOutput);
        DeviceEntry before[SOCKET_COUNT];
        memcpy(before, DeviceTable(), sizeof before);
        SimCard_ClearTrace();

        EXPECT_EQ(1, ProgramPortDirections(&module));

        const Traffic expected[] = {
            {SIM_SETDIRECTION, 2, 0, FIRST_DIRECTION_VALUE, 1, 0},
            {SIM_OUTPORT, 2, PORT_CTRL, c.controlWord, 1, 0},
            {SIM_SETDIRECTION, 2, 0, c.second, 1, 0},
            {SIM_SETDIRECTION, 2, 0, c.third, 1, 0},
        };
        EXPECT_CARD_TRACE(expected);
        EXPECT_EQ(0, memcmp(before, DeviceTable(), sizeof before));
        SimCardState state;
        ASSERT_EQ(1, SimCard_GetState(2, &state));
        EXPECT_EQ(0u, state.mismatch) << "control word and line drivers agree";
    }
}

TEST_F(CardAccess, SocketOrPortOutOfRangeIsRefusedWithoutCardTraffic) {
    Enumerate(nullptr);
    static const unsigned kBad[][2] = {{SOCKET_COUNT, PORT_A}, {0xFFFF, PORT_A}, {0, PORT_CTRL}};
    for (const auto& bad : kBad) {
        ModuleSettings settings;
        ModuleRecord module = ModuleOnSocket(&settings, bad[0], bad[1]);
        EXPECT_EQ(0, ProgramPortDirections(&module));
    }
    ExpectNoCardTraffic();
}
