/*
 * What the user-interface tests share: the reference host with the extension
 * admitted (set up once for the program), message recording and comparison in
 * the manner of Wine's conformance tests, and a driver that scripts modal
 * dialogs from a CBT hook.
 */
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "host/HostAbi.h"

/* ---- Message sequences ------------------------------------------------------- */

struct Message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

/* Compares a recorded sequence with the expected one and prints both on a
   mismatch; use through EXPECT_SEQUENCE so the failure names the caller. */
void ExpectSequence(const std::vector<Message>& actual, const Message* expected, size_t count);
#define EXPECT_SEQUENCE(actual, expected)                                                          \
    do {                                                                                           \
        SCOPED_TRACE(#expected);                                                                   \
        ExpectSequence((actual), (expected), sizeof(expected) / sizeof((expected)[0]));            \
    } while (0)
#define EXPECT_NO_MESSAGES(actual) ExpectSequence((actual), nullptr, 0)

/* A visible top-level window that records the WM_COMMAND and channel-button
   notifications its children send. onCommand, if set, runs for each WM_COMMAND
   after it is recorded. */
struct RecordingParent {
    RecordingParent();
    ~RecordingParent();
    RecordingParent(const RecordingParent&) = delete;
    RecordingParent& operator=(const RecordingParent&) = delete;

    /* Posts a WM_APP separator and dispatches everything up to it. */
    void Drain();

    HWND window;
    std::vector<Message> log;
    std::function<void(WPARAM)> onCommand;
};

/* Dispatches the thread's queue for about the given time, through the dialog
   manager's keyboard handling for dialog (may be null). */
void PumpMessages(HWND dialog, DWORD milliseconds);

/* ---- Modal dialogs ------------------------------------------------------------ */

typedef std::function<void(HWND dialog)> DialogScript;

/* While it lives, each dialog that becomes active for the first time gets the
   next script, run from the dialog's own message loop once the dialog shows (a
   timer set at activation). A script must end its dialog; one that does not is ended after a
   few seconds with result -2 and reported as a failure. */
class DialogDriver {
  public:
    explicit DialogDriver(std::vector<DialogScript> scripts);
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    /* How many dialogs got a script. */
    size_t Started() const;
};

/* Clicks a button of a dialog the way a user does (BM_CLICK). */
void ClickButton(HWND dialog, int control);
/* A key press as the dialog's message loop sees it, delivered to the focused
   control (or the dialog), then the queue pumped through the dialog manager. */
void PressKey(HWND dialog, UINT key);

/* The three ways a user leaves a dialog without OK. */
struct WayOut {
    const char* name;
    void (*leave)(HWND dialog);
};
extern const WayOut kDialogWaysOut[3];
/* The control's text in code page 932. */
std::string ItemText(HWND dialog, int control);
/* The 16-bit state word of a channel or step button. */
WORD ButtonState(HWND control);
/* A press and release of the left mouse button on a control. */
void ClickControl(HWND control);

/* ---- The host ------------------------------------------------------------------ */

/* Counts of a host service's calls since the last RefHost_ClearJournal. */
size_t HostCalls(const char* service);
/* The i-th journaled call of a service, or null. */
const struct JournalEntry* HostCall(const char* service, size_t i);
/* The journaled warnings as "caption\ntext", in code page 932. */
std::vector<std::string> HostWarnings(void);
