/*
 * Scratch files for the recorder and pattern tests: paths in the temporary
 * folder, whole-file reads and writes.
 */
#pragma once

#include <string>

/* A path in the temporary folder, unique to this process. */
std::string ScratchPath(const char* name);
/* The file's bytes, or "<missing>" when it cannot be read. */
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
