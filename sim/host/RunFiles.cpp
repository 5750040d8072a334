/*
 * The files a run leaves: the recording as CSV, VCD and SVG, under the names
 * and the folder the program's options give.
 */
#include "sim/host/HostProgram.h"
#include "sim/host/HostInternal.h"
#include "sim/host/Recorder.h"

#include <cstring>
#include <string>

static void MakeFolders(const char* path) {
    std::string folder;
    for (const char* p = path; *p; ++p) {
        if ((*p == '/' || *p == '\\') && !folder.empty()) {
            CreateDirectoryA(folder.c_str(), nullptr);
        }
        folder += *p;
    }
    if (!folder.empty()) {
        CreateDirectoryA(folder.c_str(), nullptr);
    }
}

static std::string OutputPath(const ProgramOptions* options, const char* given,
                              const char* fallback) {
    std::string name = given[0] ? given : "";
    if (name.empty()) {
        if (!options->outDir[0] || options->csv[0] || options->vcd[0] || options->svg[0]) {
            return "";
        }
        name = fallback;
    }
    int absolute = name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':');
    if (options->outDir[0] && !absolute) {
        name = std::string(options->outDir) + "/" + name;
    }
    return name;
}

static std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

static int FolderExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int WriteRunFiles(const ProgramOptions* options, FILE* out) {
    if (options->outDir[0]) {
        MakeFolders(options->outDir);
    }
    struct OutputFile {
        std::string path;
        int (*write)(const char* path);
    } files[3] = {
        {OutputPath(options, options->csv, "run.csv"), Recorder_WriteCsv},
        {OutputPath(options, options->vcd, "run.vcd"), Recorder_WriteVcd},
        {OutputPath(options, options->svg, "run.svg"), Recorder_WriteSvg},
    };
    int ok = 1;
    for (size_t i = 0; i < 3; ++i) {
        if (files[i].path.empty()) {
            continue;
        }
        const char* path = files[i].path.c_str();
        if (files[i].write(path)) {
            RefHost_Print(out, "wrote %s\n", RefHost_Utf8(path, PROGRAM_PATH));
        } else {
            std::string folder = FolderOf(files[i].path);
            if (!folder.empty() && !FolderExists(folder.c_str())) {
                RefHost_Print(out, "could not write %s: folder not found: %s\n",
                              RefHost_Utf8(path, PROGRAM_PATH),
                              RefHost_Utf8(folder.c_str(), PROGRAM_PATH));
            } else {
                RefHost_Print(out, "could not write %s\n", RefHost_Utf8(path, PROGRAM_PATH));
            }
            ok = 0;
        }
    }
    return ok;
}

void DefaultProgramOptions(ProgramOptions* options) {
    std::memset(options, 0, sizeof *options);
    CopyText(options->extension, "Orvik_qx4.dll", PROGRAM_PATH);
    RefHost_DefaultRunOptions(&options->run);
    options->run.progress = 1;
}
