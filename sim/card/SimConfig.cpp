/*
 * The configuration parser of the card simulator.
 *
 * The file (rzxdk08.ini, or the file named by RZXDK08_CONFIG) is plain text,
 * one statement per line; words are separated by blanks; '#' or ';' starts a
 * comment that runs to the end of the line; numbers are decimal or 0x-hex;
 * ports are A, B, C (or 0, 1, 2).
 *
 *   card <socket> <ioBase1> <ioLength1> <ioBase2> <ioLength2>
 *       a card in socket 0..15 with its two I/O ranges; every port starts as
 *       "input constant 0"
 *   input <socket> <port> constant <value>
 *   input <socket> <port> counter [<first>]
 *       the port reads first, first+1, ... (mod 256), one step per read
 *   input <socket> <port> square <period0> [<period1> ... <period7>]
 *       line k is low for the first half of its period and high for the
 *       second, counted in reads of this port; a period of 0 (or a line left
 *       out) keeps the line low; 1 is refused
 *   input <socket> <port> cable <fromSocket> <fromPort>
 *       the port reads the other card's connector: its output latch where that
 *       card drives the port as output (control word and line driver), else
 *       the cable's pull-ups, 0xFF
 *   handle <socket> <value>
 *       Dk08Create leaves value in the socket variable
 *   fault <socket> create <answer>       Dk08Create answers this, opens nothing
 *   fault <socket> resource              Dk08GetResource fails
 *   fault <socket> pull-after-calls <n>  the card is pulled after n calls on it
 *   fault <socket> pull-after-ms <t>     ... t ms after its Dk08Create
 *   fault nth <inport|outport|setdirection|any> <n> [<code>]
 *       the n-th such call fails with code (default 1000), once
 *
 * A card's input, handle and fault lines come after its card line; a cable
 * must lead from a socket that holds a card. Anything else is an error, and a
 * configuration with an error configures no card at all.
 */
#include "sim/card/SimConfig.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char kSimDefaultConfig[] = "# two cards, socket 0 port B wired to socket 1 port A\n"
                                 "card 0 0x300 4 0x310 16\n"
                                 "card 1 0x320 4 0x330 16\n"
                                 "input 1 A cable 0 B\n";

#define MAX_WORDS 12u
#define MAX_LINE  512u

struct Line {
    char buffer[MAX_LINE];
    const char* words[MAX_WORDS];
    unsigned count;
};

struct Parser {
    SimConfig* config;
    unsigned lineNumber;
    char* error;
    size_t errorSize;
};

int SimNthIndex(DWORD call) {
    switch (call) {
    case SIM_INPORT:
        return 0;
    case SIM_OUTPORT:
        return 1;
    case SIM_SETDIRECTION:
        return 2;
    case SIM_ANY_CALL:
        return 3;
    default:
        return -1;
    }
}

static int Fail(Parser* parser, const char* what, const char* word) {
    snprintf(parser->error, parser->errorSize, "line %u: %s%s%s%s", parser->lineNumber, what,
             word ? " '" : "", word ? word : "", word ? "'" : "");
    return 0;
}

/* Splits one line into words, dropping the comment; a line too long or with
   too many words is refused rather than cut. */
static int SplitLine(const char* start, size_t length, Line* line) {
    if (length >= MAX_LINE)
        return 0;
    memcpy(line->buffer, start, length);
    line->buffer[length] = '\0';
    char* comment = strpbrk(line->buffer, "#;");
    if (comment)
        *comment = '\0';
    line->count = 0;
    char* p = line->buffer;
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\r')
            *p++ = '\0';
        if (!*p)
            return 1;
        if (line->count == MAX_WORDS)
            return 0;
        line->words[line->count++] = p;
        while (*p && *p != ' ' && *p != '\t' && *p != '\r')
            ++p;
    }
}

static int ParseNumber(const char* word, DWORD* value) {
    char* end = nullptr;
    unsigned long number = strtoul(word, &end, 0);
    if (!*word || *end || *word == '-')
        return 0;
    *value = static_cast<DWORD>(number);
    return 1;
}

static int ParseSigned(const char* word, LONG* value) {
    char* end = nullptr;
    long number = strtol(word, &end, 0);
    if (!*word || *end)
        return 0;
    *value = static_cast<LONG>(number);
    return 1;
}

static int ParsePort(const char* word, DWORD* port) {
    static const char* const kNames[3][2] = {{"A", "0"}, {"B", "1"}, {"C", "2"}};
    for (DWORD p = 0; p < 3; ++p) {
        if (_stricmp(word, kNames[p][0]) == 0 || strcmp(word, kNames[p][1]) == 0) {
            *port = p;
            return 1;
        }
    }
    return 0;
}

/* A socket number that must already hold a card (configured above). */
static SimCardConfig* CardNamed(Parser* parser, const char* word) {
    DWORD socket;
    if (!ParseNumber(word, &socket) || socket >= SIM_SOCKETS) {
        Fail(parser, "no such socket", word);
        return nullptr;
    }
    SimCardConfig* card = &parser->config->cards[socket];
    if (!card->present) {
        Fail(parser, "no card line above for socket", word);
        return nullptr;
    }
    return card;
}

static int ParseCard(Parser* parser, const Line& line) {
    if (line.count != 6)
        return Fail(parser, "card wants socket, base, length, base, length", nullptr);
    DWORD numbers[5];
    for (unsigned i = 0; i < 5; ++i) {
        if (!ParseNumber(line.words[i + 1], &numbers[i]))
            return Fail(parser, "not a number", line.words[i + 1]);
    }
    if (numbers[0] >= SIM_SOCKETS)
        return Fail(parser, "no such socket", line.words[1]);
    SimCardConfig* card = &parser->config->cards[numbers[0]];
    if (card->present)
        return Fail(parser, "second card line for socket", line.words[1]);
    card->present = 1;
    card->ioBase1 = numbers[1];
    card->ioLength1 = numbers[2];
    card->ioBase2 = numbers[3];
    card->ioLength2 = numbers[4];
    card->createAnswer = 1;
    return 1;
}

static int ParseSquare(Parser* parser, const Line& line, SimSource* source) {
    unsigned periods = line.count - 4;
    if (periods < 1 || periods > 8)
        return Fail(parser, "square wants one to eight periods", nullptr);
    for (unsigned k = 0; k < periods; ++k) {
        DWORD period;
        if (!ParseNumber(line.words[4 + k], &period) || period == 1)
            return Fail(parser, "not a period (0, or 2 and up)", line.words[4 + k]);
        source->periods[k] = period;
    }
    source->kind = SRC_SQUARE;
    return 1;
}

static int ParseCable(Parser* parser, const Line& line, SimSource* source) {
    if (line.count != 6)
        return Fail(parser, "cable wants socket and port", nullptr);
    if (!CardNamed(parser, line.words[4]))
        return 0;
    ParseNumber(line.words[4], &source->cableSocket);
    if (!ParsePort(line.words[5], &source->cablePort))
        return Fail(parser, "not a port", line.words[5]);
    source->kind = SRC_CABLE;
    return 1;
}

static int ParseInput(Parser* parser, const Line& line) {
    if (line.count < 4)
        return Fail(parser, "input wants socket, port and source", nullptr);
    SimCardConfig* card = CardNamed(parser, line.words[1]);
    if (!card)
        return 0;
    DWORD port;
    if (!ParsePort(line.words[2], &port))
        return Fail(parser, "not a port", line.words[2]);
    SimSource source;
    memset(&source, 0, sizeof source);
    const char* kind = line.words[3];
    if (strcmp(kind, "constant") == 0) {
        if (line.count != 5 || !ParseNumber(line.words[4], &source.value) || source.value > 0xFF)
            return Fail(parser, "constant wants one byte", nullptr);
        source.kind = SRC_CONSTANT;
    } else if (strcmp(kind, "counter") == 0) {
        if (line.count > 5 || (line.count == 5 && !ParseNumber(line.words[4], &source.value)) ||
            source.value > 0xFF)
            return Fail(parser, "counter wants at most one byte", nullptr);
        source.kind = SRC_COUNTER;
    } else if (strcmp(kind, "square") == 0) {
        if (!ParseSquare(parser, line, &source))
            return 0;
    } else if (strcmp(kind, "cable") == 0) {
        if (!ParseCable(parser, line, &source))
            return 0;
    } else {
        return Fail(parser, "unknown source", kind);
    }
    card->sources[port] = source;
    return 1;
}

static int ParseHandle(Parser* parser, const Line& line) {
    if (line.count != 3)
        return Fail(parser, "handle wants socket and value", nullptr);
    SimCardConfig* card = CardNamed(parser, line.words[1]);
    if (!card)
        return 0;
    if (!ParseNumber(line.words[2], &card->createHandle))
        return Fail(parser, "not a number", line.words[2]);
    card->hasCreateHandle = 1;
    return 1;
}

static int ParseNthFault(Parser* parser, const Line& line) {
    static const struct {
        const char* name;
        DWORD call;
    } kKinds[] = {{"inport", SIM_INPORT},
                  {"outport", SIM_OUTPORT},
                  {"setdirection", SIM_SETDIRECTION},
                  {"any", SIM_ANY_CALL}};
    if (line.count != 4 && line.count != 5)
        return Fail(parser, "fault nth wants kind, n and maybe a code", nullptr);
    DWORD call = 0;
    for (const auto& kind : kKinds) {
        if (strcmp(line.words[2], kind.name) == 0)
            call = kind.call;
    }
    if (!call)
        return Fail(parser, "unknown call kind", line.words[2]);
    SimNthFault fault = {call, 0, SIMERR_INJECTED};
    if (!ParseNumber(line.words[3], &fault.n) || fault.n == 0)
        return Fail(parser, "not a count", line.words[3]);
    if (line.count == 5 && !ParseSigned(line.words[4], &fault.code))
        return Fail(parser, "not a code", line.words[4]);
    parser->config->nth[SimNthIndex(call)] = fault;
    return 1;
}

static int ParseCardFault(Parser* parser, const Line& line) {
    SimCardConfig* card = CardNamed(parser, line.words[1]);
    if (!card)
        return 0;
    const char* what = line.words[2];
    if (strcmp(what, "resource") == 0 && line.count == 3) {
        card->failResource = 1;
        return 1;
    }
    if (line.count != 4)
        return Fail(parser, "fault wants one value for", what);
    if (strcmp(what, "create") == 0) {
        if (!ParseSigned(line.words[3], &card->createAnswer))
            return Fail(parser, "not a number", line.words[3]);
        return 1;
    }
    DWORD* target = nullptr;
    if (strcmp(what, "pull-after-calls") == 0)
        target = &card->pullAfterCalls;
    else if (strcmp(what, "pull-after-ms") == 0)
        target = &card->pullAfterMs;
    else
        return Fail(parser, "unknown fault", what);
    if (!ParseNumber(line.words[3], target) || *target == 0)
        return Fail(parser, "not a count", line.words[3]);
    return 1;
}

static int ParseFault(Parser* parser, const Line& line) {
    if (line.count < 3)
        return Fail(parser, "fault wants a socket or nth", nullptr);
    if (strcmp(line.words[1], "nth") == 0)
        return ParseNthFault(parser, line);
    return ParseCardFault(parser, line);
}

static int ParseStatement(Parser* parser, const Line& line) {
    static const struct {
        const char* word;
        int (*parse)(Parser*, const Line&);
    } kStatements[] = {
        {"card", ParseCard},
        {"input", ParseInput},
        {"handle", ParseHandle},
        {"fault", ParseFault},
    };
    for (const auto& statement : kStatements) {
        if (strcmp(line.words[0], statement.word) == 0)
            return statement.parse(parser, line);
    }
    return Fail(parser, "unknown statement", line.words[0]);
}

static int ParseLines(Parser* parser, const char* text) {
    const char* p = text;
    while (*p) {
        ++parser->lineNumber;
        const char* end = strchr(p, '\n');
        size_t length = end ? static_cast<size_t>(end - p) : strlen(p);
        Line line;
        if (!SplitLine(p, length, &line))
            return Fail(parser, "line too long or too many words", nullptr);
        if (line.count && !ParseStatement(parser, line))
            return 0;
        p += length;
        if (*p == '\n')
            ++p;
    }
    return 1;
}

int ParseSimConfig(const char* text, SimConfig* config, char* error, size_t errorSize) {
    memset(config, 0, sizeof *config);
    Parser parser = {config, 0, error, errorSize};
    if (errorSize)
        error[0] = '\0';
    if (ParseLines(&parser, text))
        return 1;
    memset(config, 0, sizeof *config);
    return 0;
}
