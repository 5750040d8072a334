/*
 * orvik-host.exe: the reference host as a program. It loads the extension into
 * its main window, optionally loads a worksheet, and then either runs it in
 * batch (paced for a time or a number of blocks, recording to CSV, VCD and
 * SVG, with a summary and the loop check for make demo) or opens the
 * interactive workbench. Every line goes out through RefHost_Print, the
 * system's own texts converted from code page 932 first. The exit code says
 * what went wrong first, for scripts (the table is in kUsage).
 */
#include "sim/host/HostProgram.h"
#include "sim/host/HostInternal.h"
#include "sim/host/Recorder.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static const char kUsage[] =
    "usage: orvik-host.exe [options] [worksheet.ows]\n"
    "\n"
    "Loads the extension into the reference host. Without a batch option the\n"
    "host window opens for interactive use: the extension's menu creates\n"
    "modules, the list shows them (double-click opens the settings), the\n"
    "experiment menu starts, pauses and stops runs.\n"
    "\n"
    "  --help                 this text\n"
    "  --extension PATH       the extension DLL (default Orvik_qx4.dll)\n"
    "  --sim-config FILE      card simulator configuration (sets RZXDK08_CONFIG\n"
    "                         before the extension loads)\n"
    "  --save FILE            save the worksheet after loading it\n"
    "batch runs (any of these runs the worksheet and exits):\n"
    "  --batch                run with the defaults below\n"
    "  --duration SECONDS     run this long (default 2; pauses not counted)\n"
    "  --blocks N             run until every channel moved N blocks\n"
    "  --summary              print cards, admission, modules, run and loop check\n"
    "  --pull SOCKET@SECONDS  pull a simulated card during the run\n"
    "  --pause AT@SECONDS     pause the run at AT for SECONDS\n"
    "  --no-progress          no progress line while running\n"
    "  --max-late-ms MS       a release later than this means the run fell behind\n"
    "                         (default 50)\n"
    "run parameters (batch and interactive):\n"
    "  --rate MS              milliseconds per sample (default: worksheet, else 1)\n"
    "  --block-size N         samples per block, 1 to 65535 (default: worksheet, else 100)\n"
    "output files of a run:\n"
    "  --out-dir DIR          folder for the files (created); alone it writes\n"
    "                         run.csv, run.vcd and run.svg there\n"
    "  --csv FILE  --vcd FILE  --svg FILE\n"
    "\n"
    "Exit codes (when several apply, the smallest is returned):\n"
    "  0  everything asked for happened\n"
    "  1  the host itself could not start (no window)\n"
    "  2  bad arguments or files: an unknown option or value, a file not found\n"
    "     or unreadable, a file that is no worksheet, a configuration the card\n"
    "     simulator rejected\n"
    "  3  the extension refused: SetupOrvikDLL answered 0, or it is no extension\n"
    "  4  contract violations by the extension, allocator faults or leaks\n"
    "  5  worksheet modules refused or dropped, no module left, or a module\n"
    "     refused the start\n"
    "  6  an output file (recording or --save) was not written\n"
    "  7  the extension showed warnings\n"
    "  8  the run fell behind: under 99 % of the nominal samples, or a release\n"
    "     later than --max-late-ms\n"
    "  9  the loop check found a mismatch or could not check everything\n"
    "The interactive mode returns codes 0 to 6 only.\n";

/* ---- Exit codes ------------------------------------------------------------------ */

enum ExitCode {
    EXIT_DONE = 0,
    EXIT_HOST_FAILED = 1,
    EXIT_BAD_INPUT = 2,
    EXIT_EXTENSION_REFUSED = 3,
    EXIT_CONTRACT = 4,
    EXIT_MODULES_REFUSED = 5,
    EXIT_NOT_WRITTEN = 6,
    EXIT_WARNINGS = 7,
    EXIT_FELL_BEHIND = 8,
    EXIT_LOOP = 9,
    EXIT_CODES
};

static const char* const kExitText[EXIT_CODES] = {
    "everything asked for happened",
    "the host could not start",
    "bad arguments or files",
    "the extension refused",
    "contract violations or allocator faults",
    "worksheet modules refused or dropped",
    "output files not written",
    "the extension showed warnings",
    "the run fell behind",
    "the loop check failed or was incomplete",
};

/* Every outcome noted; the smallest code wins. */
static int s_outcomes[EXIT_CODES];

static void Note(ExitCode code) {
    s_outcomes[code] = 1;
}

static int ExitCodeOf(void) {
    for (int code = 1; code < EXIT_CODES; ++code) {
        if (s_outcomes[code]) {
            return code;
        }
    }
    return EXIT_DONE;
}

/* ---- Text out ------------------------------------------------------------------- */

/* A path or other text from the command line (the ANSI code page) as UTF-8. */
static const char* Text(const char* text) {
    return RefHost_Utf8(text, PROGRAM_PATH);
}

static int FileExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* ---- Options -------------------------------------------------------------------- */

static int CopyOption(char* destination, const char* value) {
    if (!value || std::strlen(value) >= PROGRAM_PATH) {
        return 0;
    }
    CopyText(destination, value, PROGRAM_PATH);
    return 1;
}

static int ParseNumber(const char* text, double* value) {
    if (!text) {
        return 0;
    }
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return end != text && *end == 0 && errno == 0 && std::isfinite(*value);
}

/* "A@B" with two numbers. */
static int ParsePair(const char* text, double* first, double* second) {
    const char* at = text ? std::strchr(text, '@') : nullptr;
    if (!at) {
        return 0;
    }
    std::string head(text, static_cast<size_t>(at - text));
    return ParseNumber(head.c_str(), first) && ParseNumber(at + 1, second);
}

static int ParseValueOption(ProgramOptions* options, const char* name, const char* value) {
    double number = 0.0, second = 0.0;
    RunOptions& run = options->run;
    if (std::strcmp(name, "--extension") == 0) {
        return CopyOption(options->extension, value);
    } else if (std::strcmp(name, "--sim-config") == 0) {
        return CopyOption(options->simConfig, value);
    } else if (std::strcmp(name, "--save") == 0) {
        return CopyOption(options->saveAs, value);
    } else if (std::strcmp(name, "--out-dir") == 0) {
        return CopyOption(options->outDir, value);
    } else if (std::strcmp(name, "--csv") == 0) {
        return CopyOption(options->csv, value);
    } else if (std::strcmp(name, "--vcd") == 0) {
        return CopyOption(options->vcd, value);
    } else if (std::strcmp(name, "--svg") == 0) {
        return CopyOption(options->svg, value);
    } else if (std::strcmp(name, "--duration") == 0) {
        options->batch = 1;
        options->haveDuration = 1;
        return ParseNumber(value, &run.seconds) && run.seconds > 0.0;
    } else if (std::strcmp(name, "--blocks") == 0) {
        options->batch = 1;
        if (!ParseNumber(value, &number) || number < 1.0 || number > 4.0e9) {
            return 0;
        }
        run.blocks = static_cast<unsigned long>(number);
        if (!options->haveDuration) {
            run.seconds = 0.0; /* a block count alone is the limit */
        }
        return 1;
    } else if (std::strcmp(name, "--rate") == 0) {
        options->haveRate = 1;
        return ParseNumber(value, &run.millisecondsPerSample) && run.millisecondsPerSample > 0.0;
    } else if (std::strcmp(name, "--block-size") == 0) {
        options->haveBlockSize = 1;
        if (!ParseNumber(value, &number) || number < 1.0 || number > 65535.0 ||
            number != std::floor(number)) {
            return 0;
        }
        run.blockSize = static_cast<DWORD>(number);
        return 1;
    } else if (std::strcmp(name, "--pull") == 0) {
        options->batch = 1;
        if (!ParsePair(value, &number, &second) || number < 0.0 || number > 15.0 || second < 0.0) {
            return 0;
        }
        run.pullSocket = static_cast<int>(number);
        run.pullAtSeconds = second;
        return 1;
    } else if (std::strcmp(name, "--max-late-ms") == 0) {
        return ParseNumber(value, &run.maxLateMs) && run.maxLateMs > 0.0;
    } else if (std::strcmp(name, "--pause") == 0) {
        options->batch = 1;
        return ParsePair(value, &run.pauseAtSeconds, &run.pauseSeconds) &&
               run.pauseAtSeconds > 0.0 && run.pauseSeconds > 0.0;
    }
    return -1;
}

static int TakesValue(const char* name) {
    static const char* const names[] = {"--extension", "--sim-config", "--save",       "--out-dir",
                                        "--csv",       "--vcd",        "--svg",        "--duration",
                                        "--blocks",    "--rate",       "--block-size", "--pull",
                                        "--pause",     "--max-late-ms"};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        if (std::strcmp(names[i], name) == 0) {
            return 1;
        }
    }
    return 0;
}

/* Returns 1 to go on, 0 after --help, -1 on a bad argument (reported). */
static int ParseArguments(int argc, char** argv, ProgramOptions* options) {
    DefaultProgramOptions(options);
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            RefHost_PrintText(stdout, kUsage);
            return 0;
        } else if (std::strcmp(arg, "--batch") == 0) {
            options->batch = 1;
        } else if (std::strcmp(arg, "--summary") == 0) {
            options->batch = 1;
            options->summary = 1;
        } else if (std::strcmp(arg, "--no-progress") == 0) {
            options->run.progress = 0;
        } else if (TakesValue(arg)) {
            const char* value = i + 1 < argc ? argv[++i] : nullptr;
            if (ParseValueOption(options, arg, value) != 1) {
                RefHost_Print(stderr, "orvik-host: bad value for %s: %s\n", arg,
                              value ? Text(value) : "(missing)");
                return -1;
            }
        } else if (arg[0] == '-' && arg[1] == '-') {
            RefHost_Print(stderr, "orvik-host: unknown option %s (see --help)\n", Text(arg));
            return -1;
        } else if (options->worksheet[0]) {
            RefHost_Print(stderr, "orvik-host: one worksheet only: %s\n", Text(arg));
            return -1;
        } else if (!CopyOption(options->worksheet, arg)) {
            RefHost_Print(stderr, "orvik-host: worksheet path too long: %s\n", Text(arg));
            return -1;
        }
    }
    if (options->saveAs[0] && !options->worksheet[0]) {
        RefHost_PrintText(stderr, "orvik-host: --save saves the worksheet loaded; none given\n");
        return -1;
    }
    return 1;
}

/* ---- Summary parts ------------------------------------------------------------- */

static void PrintCards(FILE* out) {
    const SimCalls* sim = SimLink();
    if (!sim) {
        RefHost_PrintText(out, "cards: the card driver in use is not the simulator\n");
        return;
    }
    RefHost_Print(out, "simulator configuration: %s\n", Text(sim->SimCard_ConfigSource()));
    std::string list;
    for (DWORD socket = 0; socket < SIM_SOCKETS; ++socket) {
        SimCardState state;
        if (sim->SimCard_GetState(socket, &state) && state.present && state.open) {
            char item[32];
            std::snprintf(item, sizeof item, "%s%lu", list.empty() ? "" : ", ",
                          static_cast<unsigned long>(socket));
            list += item;
        }
    }
    RefHost_Print(out, "cards the extension opened: %s\n",
                  list.empty() ? "none" : ("socket " + list).c_str());
}

static void PrintModules(FILE* out) {
    RefHost_Print(out, "modules: %u\n", static_cast<unsigned>(RefHost_ModuleCount()));
    for (size_t i = 0; i < RefHost_ModuleCount(); ++i) {
        ModuleRecord* record = RefModule_Record(RefHost_Module(i));
        const ModuleSettings* settings = record->settings;
        char port = settings->port < 3 ? static_cast<char>('A' + settings->port) : '?';
        int output = record->inputCount > 0;
        RefHost_Print(out, "  %u \"%s\": socket %u port %c, %s, %lu %s\n",
                      static_cast<unsigned>(i + 1), RefHost_Utf8(record->name, MODULE_NAME_BYTES),
                      settings->socket, port, output ? "output" : "input",
                      static_cast<unsigned long>(output ? record->inputCount : record->outputCount),
                      output ? "inputs" : "outputs");
    }
}

static void PrintJournalFindings(FILE* out) {
    size_t warnings = RefHost_CountKind(J_WARNING);
    size_t violations = RefHost_CountKind(J_VIOLATION);
    for (size_t i = 0, shown = 0; i < RefHost_JournalSize() && shown < 10; ++i) {
        const JournalEntry* entry = RefHost_JournalEntry(i);
        if (entry->kind == J_WARNING || entry->kind == J_VIOLATION) {
            std::string text = RefHost_Utf8(entry->text, sizeof entry->text);
            for (size_t k = 0; k < text.size(); ++k) {
                text[k] = text[k] == '\n' ? ' ' : text[k];
            }
            RefHost_Print(out, "  %s: %s\n", entry->kind == J_WARNING ? "warning" : "violation",
                          text.c_str());
            ++shown;
        }
    }
    RefHost_Print(out, "warnings shown: %u, contract violations: %u\n",
                  static_cast<unsigned>(warnings), static_cast<unsigned>(violations));
    if (warnings > 0) {
        Note(EXIT_WARNINGS);
    }
    if (violations > 0) {
        Note(EXIT_CONTRACT);
    }
}

/* ---- Program ---------------------------------------------------------------------- */

/* Files named on the command line that must be there before anything starts;
   output folders are checked when the files are written. */
static int InputFilesFound(const ProgramOptions* options) {
    char found[MAX_PATH];
    DWORD length = SearchPathA(nullptr, options->extension, nullptr, sizeof found, found, nullptr);
    int ok = 1;
    if (length == 0 || length >= sizeof found) {
        RefHost_Print(stderr, "orvik-host: extension not found: %s\n", Text(options->extension));
        ok = 0;
    }
    if (options->worksheet[0] && !FileExists(options->worksheet)) {
        RefHost_Print(stderr, "orvik-host: worksheet not found: %s\n", Text(options->worksheet));
        ok = 0;
    }
    if (options->simConfig[0] && !FileExists(options->simConfig)) {
        RefHost_Print(stderr, "orvik-host: simulator configuration not found: %s\n",
                      Text(options->simConfig));
        ok = 0;
    }
    return ok;
}

static int AdmitExtension(const ProgramOptions* options, FILE* out) {
    LONG admitted = RefHost_LoadExtension(options->extension);
    if (admitted) {
        RefHost_Print(out, "extension %s: admitted (%u variable and %u function lookups)\n",
                      Text(options->extension), static_cast<unsigned>(RefHost_CountKind(J_GETVAR)),
                      static_cast<unsigned>(RefHost_CountKind(J_GETFUNC)));
    } else if (RefHost_CountKind(J_GETVAR) + RefHost_CountKind(J_GETFUNC) > 0) {
        RefHost_Print(out, "extension refused: %s (after %u variable and %u function lookups)\n",
                      Text(RefHost_ExtensionLoadProblem()),
                      static_cast<unsigned>(RefHost_CountKind(J_GETVAR)),
                      static_cast<unsigned>(RefHost_CountKind(J_GETFUNC)));
    } else {
        RefHost_Print(out, "extension refused: %s\n", Text(RefHost_ExtensionLoadProblem()));
    }
    if (admitted && !RefHost_ModuleClass()) {
        RefHost_PrintText(out, "the extension registered no module class (no card driver?)\n");
    }
    if (!admitted) {
        Note(EXIT_EXTENSION_REFUSED);
    }
    return admitted != 0;
}

/* The simulator rejects a broken configuration by running with no card at all;
   a run on that machine would only show the extension finding nothing. */
static int SimulatorConfigured(FILE* out) {
    const SimCalls* sim = SimLink();
    const char* error = sim ? sim->SimCard_ConfigError() : "";
    if (!error || !error[0]) {
        return 1;
    }
    RefHost_Print(out, "card simulator configuration %s rejected: %s\n",
                  Text(sim->SimCard_ConfigSource()), Text(error));
    RefHost_PrintText(out, "run refused: the simulator has no card to run on\n");
    Note(EXIT_BAD_INPUT);
    return 0;
}

static int LoadWorksheet(const ProgramOptions* options, FILE* out) {
    if (!options->worksheet[0]) {
        return 1;
    }
    int loaded = RefHost_LoadWorksheet(options->worksheet);
    for (size_t i = 0; i < RefHost_WorksheetProblemCount(); ++i) {
        RefHost_Print(out, "%s\n", Text(RefHost_WorksheetProblem(i)));
    }
    if (loaded < 0) {
        Note(EXIT_BAD_INPUT);
        return 0;
    }
    RefHost_Print(out, "worksheet %s: %d module(s) loaded\n", Text(options->worksheet), loaded);
    /* A run at a default rate nobody asked for would pass for the worksheet's own. */
    if (RefHost_WorksheetRunLinesBad()) {
        RefHost_PrintText(out, "the worksheet's rate-ms or block-size line is bad: the run is not "
                               "started\n");
        Note(EXIT_BAD_INPUT);
        return 0;
    }
    if (RefHost_WorksheetProblemCount() > 0) {
        Note(EXIT_MODULES_REFUSED);
        if (loaded == 0 && options->batch) {
            RefHost_PrintText(out, "no module left: the run is not started\n");
            return 0;
        }
    }
    if (options->saveAs[0] && !RefHost_SaveWorksheet(options->saveAs)) {
        RefHost_Print(out, "could not save %s\n", Text(options->saveAs));
        Note(EXIT_NOT_WRITTEN);
    }
    return 1;
}

static void ApplyWorksheetRun(ProgramOptions* options) {
    if (!options->haveRate) {
        options->run.millisecondsPerSample = RefHost_WorksheetRate();
    }
    if (!options->haveBlockSize) {
        options->run.blockSize = RefHost_WorksheetBlockSize();
    }
    RefHost_SetWorksheetRun(options->run.millisecondsPerSample, options->run.blockSize);
}

static void RunBatch(ProgramOptions* options, FILE* out) {
    if (options->summary) {
        PrintModules(out);
    }
    RefHost_Print(out, "running: %g ms per sample, %lu samples per block, %s\n",
                  options->run.millisecondsPerSample,
                  static_cast<unsigned long>(options->run.blockSize),
                  options->run.blocks ? "until the block count" : "for the duration");
    RunReport report;
    int started = RefHost_Run(&options->run, &report);
    RefHost_PrintRunReport(out, &report);
    if (!started) {
        Note(EXIT_MODULES_REFUSED);
        PrintJournalFindings(out);
        return;
    }
    if (report.fellBehind) {
        Note(EXIT_FELL_BEHIND);
    }
    if (!WriteRunFiles(options, out)) {
        Note(EXIT_NOT_WRITTEN);
    }
    PrintJournalFindings(out);
    if (options->summary && RefHost_PrintLoopback(out) != 1) {
        Note(EXIT_LOOP);
    }
}

/* The batch run's last line: the code and the first reason for it. */
static void PrintExitLine(FILE* out, int code) {
    RefHost_Print(out, "exit code %d: %s\n", code, kExitText[code]);
}

int main(int argc, char** argv) {
    ProgramOptions options;
    int parsed = ParseArguments(argc, argv, &options);
    if (parsed <= 0) {
        return parsed == 0 ? EXIT_DONE : EXIT_BAD_INPUT;
    }
    if (!InputFilesFound(&options)) {
        return EXIT_BAD_INPUT;
    }
    if (options.simConfig[0]) {
        SetEnvironmentVariableA("RZXDK08_CONFIG", options.simConfig);
    }
    int interactive = !options.batch;
    if (!RefHost_Create(GetModuleHandleA(nullptr), interactive ? SW_SHOWNORMAL : 0)) {
        RefHost_PrintText(stderr, "orvik-host: the host window could not be created\n");
        return EXIT_HOST_FAILED;
    }
    RefHost_SetInteractive(interactive);
    FILE* out = stdout;
    if (AdmitExtension(&options, out) && SimulatorConfigured(out)) {
        if (options.summary) {
            PrintCards(out);
        }
        if (LoadWorksheet(&options, out)) {
            ApplyWorksheetRun(&options);
            if (interactive) {
                if (RunWorkbench(&options) != 0) {
                    Note(EXIT_HOST_FAILED);
                }
                /* The user saw the warnings; what the extension did wrong still counts. */
                if (RefHost_CountKind(J_VIOLATION) > 0) {
                    Note(EXIT_CONTRACT);
                }
            } else {
                RunBatch(&options, out);
            }
        }
    }
    RefHost_Destroy();
    if (RefHost_LeakCount() > 0) {
        RefHost_Print(out, "leaks: %u block(s) never freed by the extension\n",
                      static_cast<unsigned>(RefHost_LeakCount()));
        Note(EXIT_CONTRACT);
    }
    int code = ExitCodeOf();
    if (!interactive) {
        PrintExitLine(out, code);
    }
    std::fflush(out);
    return code;
}
