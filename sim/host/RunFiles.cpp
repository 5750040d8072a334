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
        if (files[i].write(files[i].path.c_str())) {
            std::fprintf(out, "wrote %s\n", files[i].path.c_str());
        } else {
            std::fprintf(out, "could not write %s\n", files[i].path.c_str());
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
