/*
 * A reference host with the extension linked in, the card simulator behind it,
 * and a controllable tick: what the module tests share.
 */
#pragma once

#include <gtest/gtest.h>

#include "host/HostAbi.h"
#include "sim/card/SimCard.h"
#include "sim/host/RefHost.h"

#include <vector>

struct TraceRow {
    DWORD call;
    DWORD socket;
    DWORD port;
    DWORD value;
};

/* The simulator's trace, without the result and flags columns. */
std::vector<TraceRow> CardTrace(void);
/* Only the rows of one call kind. */
std::vector<TraceRow> CardTrace(DWORD call);
void ExpectTrace(const std::vector<TraceRow>& actual, const TraceRow* expected, size_t count);

/* A module as a loaded worksheet brings it back (event 105); null when refused. */
RefModule* RestoreModuleOn(unsigned socket, unsigned port, DWORD inputs, DWORD outputs);

/* The tick the passes see while a test runs. */
extern DWORD g_fakeTick;

class HostedExtension : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /* A module as a loaded worksheet brings it back (event 105). */
    RefModule* Restore(unsigned socket, unsigned port, DWORD inputs, DWORD outputs);
    /* Starts a run at the fake tick with the rate given. */
    void Start(double msPerSample, DWORD blockSize);

    size_t Warnings(void) const;
};

/* Dispatches every message waiting for this thread, as the host's message loop
   would between two rounds: the card-removal notice arrives this way. */
void DeliverPostedMessages(void);

/* Warnings shown so far whose caption is the one given. */
size_t WarningsCaptioned(const char* caption);

/* Answers the next dialog that the extension opens by sending it a command
   (IDOK or IDCANCEL) from a CBT hook, as a user's click would. */
void AnswerNextDialog(WORD command);
