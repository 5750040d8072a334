/*
 * orvik-host.exe: the reference host as a program. It loads the extension into
 * its main window, optionally loads a worksheet, and then either runs it in
 * batch (paced for a time or a number of blocks, recording to CSV, VCD and
 * SVG, with a summary and the loop check for make demo) or opens the
 * interactive workbench. Texts the host prints are UTF-8; the system's own
 * texts are converted from code page 932 on the way out.
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
    "run parameters (batch and interactive):\n"
    "  --rate MS              milliseconds per sample (default: worksheet, else 1)\n"
    "  --block-size N         samples per block, 1 to 65535 (default: worksheet, else 100)\n"
    "output files of a run:\n"
    "  --out-dir DIR          folder for the files (created); alone it writes\n"
    "                         run.csv, run.vcd and run.svg there\n"
    "  --csv FILE  --vcd FILE  --svg FILE\n"
    "\n"
    "Exit code: 0 done (and the loop held where one was checked), 1 the loop\n"
    "check found a mismatch or the run was refused, 2 bad arguments, the\n"
    "extension refused, or the worksheet could not be loaded.\n";

/* ---- Text out ------------------------------------------------------------------- */

/* Code page 932 text as UTF-8, in one of a few rotating buffers. */
static const char* Utf8(const char* text) {
    static char buffers[4][1024];
    static unsigned next;
    char* out = buffers[next++ % 4];
    wchar_t wide[512];
    int n = MultiByteToWideChar(932, 0, text, -1, wide, 512);
    if (n <= 0 || WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, 1024, nullptr, nullptr) <= 0) {
        CopyText(out, text, 1024);
    }
    return out;
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
    } else if (std::strcmp(name, "--pause") == 0) {
        options->batch = 1;
        return ParsePair(value, &run.pauseAtSeconds, &run.pauseSeconds) &&
               run.pauseAtSeconds > 0.0 && run.pauseSeconds > 0.0;
    }
    return -1;
}

static int TakesValue(const char* name) {
    static const char* const names[] = {
        "--extension", "--sim-config", "--save", "--out-dir",    "--csv",  "--vcd",  "--svg",
        "--duration",  "--blocks",     "--rate", "--block-size", "--pull", "--pause"};
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
            std::fputs(kUsage, stdout);
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
                std::fprintf(stderr, "orvik-host: bad value for %s: %s\n", arg,
                             value ? value : "(missing)");
                return -1;
            }
        } else if (arg[0] == '-' && arg[1] == '-') {
            std::fprintf(stderr, "orvik-host: unknown option %s (see --help)\n", arg);
            return -1;
        } else if (options->worksheet[0] || !CopyOption(options->worksheet, arg)) {
            std::fprintf(stderr, "orvik-host: one worksheet only: %s\n", arg);
            return -1;
        }
    }
    return 1;
}

/* ---- Summary parts ------------------------------------------------------------- */

static void PrintCards(FILE* out) {
    const SimCalls* sim = SimLink();
    if (!sim) {
        std::fprintf(out, "cards: the card driver in use is not the simulator\n");
        return;
    }
    std::fprintf(out, "simulator configuration: %s\n", sim->SimCard_ConfigSource());
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
    std::fprintf(out, "cards the extension opened: %s\n",
                 list.empty() ? "none" : ("socket " + list).c_str());
}

static void PrintModules(FILE* out) {
    std::fprintf(out, "modules: %u\n", static_cast<unsigned>(RefHost_ModuleCount()));
    for (size_t i = 0; i < RefHost_ModuleCount(); ++i) {
        ModuleRecord* record = RefModule_Record(RefHost_Module(i));
        const ModuleSettings* settings = record->settings;
        char port = settings->port < 3 ? static_cast<char>('A' + settings->port) : '?';
        int output = record->inputCount > 0;
        char name[MODULE_NAME_BYTES];
        CopyText(name, record->name, sizeof name);
        std::fprintf(out, "  %u \"%s\": socket %u port %c, %s, %lu %s\n",
                     static_cast<unsigned>(i + 1), Utf8(name), settings->socket, port,
                     output ? "output" : "input",
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
            std::string text = Utf8(entry->text);
            for (size_t k = 0; k < text.size(); ++k) {
                text[k] = text[k] == '\n' ? ' ' : text[k];
            }
            std::fprintf(out, "  %s: %s\n", entry->kind == J_WARNING ? "warning" : "violation",
                         text.c_str());
            ++shown;
        }
    }
    std::fprintf(out, "warnings shown: %u, contract violations: %u\n",
                 static_cast<unsigned>(warnings), static_cast<unsigned>(violations));
}

/* ---- Program ---------------------------------------------------------------------- */

static int AdmitExtension(const ProgramOptions* options, FILE* out) {
    LONG admitted = RefHost_LoadExtension(options->extension);
    std::fprintf(out, "extension %s: %s (%u variable and %u function lookups)\n",
                 options->extension, admitted ? "admitted" : "refused",
                 static_cast<unsigned>(RefHost_CountKind(J_GETVAR)),
                 static_cast<unsigned>(RefHost_CountKind(J_GETFUNC)));
    if (admitted && !RefHost_ModuleClass()) {
        std::fprintf(out, "the extension registered no module class (no card driver?)\n");
    }
    return admitted != 0;
}

static int LoadWorksheet(const ProgramOptions* options, FILE* out) {
    if (!options->worksheet[0]) {
        return 1;
    }
    int loaded = RefHost_LoadWorksheet(options->worksheet);
    for (size_t i = 0; i < RefHost_WorksheetProblemCount(); ++i) {
        std::fprintf(out, "%s\n", Utf8(RefHost_WorksheetProblem(i)));
    }
    if (loaded < 0) {
        return 0;
    }
    std::fprintf(out, "worksheet %s: %d module(s) loaded\n", options->worksheet, loaded);
    if (options->saveAs[0] && !RefHost_SaveWorksheet(options->saveAs)) {
        std::fprintf(out, "could not save %s\n", options->saveAs);
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

static int RunBatch(ProgramOptions* options, FILE* out) {
    if (options->summary) {
        PrintModules(out);
    }
    std::fprintf(out, "running: %g ms per sample, %lu samples per block, %s\n",
                 options->run.millisecondsPerSample,
                 static_cast<unsigned long>(options->run.blockSize),
                 options->run.blocks ? "until the block count" : "for the duration");
    RunReport report;
    int started = RefHost_Run(&options->run, &report);
    RefHost_PrintRunReport(out, &report);
    if (!started) {
        PrintJournalFindings(out);
        return 1;
    }
    WriteRunFiles(options, out);
    int code = 0;
    if (options->summary) {
        PrintJournalFindings(out);
        code = RefHost_PrintLoopback(out) == 0 ? 1 : 0;
    }
    return code;
}

int main(int argc, char** argv) {
    ProgramOptions options;
    int parsed = ParseArguments(argc, argv, &options);
    if (parsed <= 0) {
        return parsed == 0 ? 0 : 2;
    }
    if (options.simConfig[0]) {
        SetEnvironmentVariableA("RZXDK08_CONFIG", options.simConfig);
    }
    int interactive = !options.batch;
    if (!RefHost_Create(GetModuleHandleA(nullptr), interactive ? SW_SHOWNORMAL : 0)) {
        std::fprintf(stderr, "orvik-host: the host window could not be created\n");
        return 2;
    }
    RefHost_SetInteractive(interactive);
    FILE* out = stdout;
    int code = 2;
    if (AdmitExtension(&options, out)) {
        if (options.summary) {
            PrintCards(out);
        }
        if (LoadWorksheet(&options, out)) {
            ApplyWorksheetRun(&options);
            code = interactive ? RunWorkbench(&options) : RunBatch(&options, out);
        }
    }
    RefHost_Destroy();
    if (RefHost_LeakCount() > 0) {
        std::fprintf(out, "leaks: %u block(s) never freed by the extension\n",
                     static_cast<unsigned>(RefHost_LeakCount()));
    }
    std::fflush(out);
    return code;
}
