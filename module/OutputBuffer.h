/*
 * The byte buffer an output module keeps from experiment start to stop: one
 * byte per sample position, all eight bits of the port. The allocation starts
 * with its capacity so the output pass can never write past it, whatever the
 * block size does during the run; ModuleSettings points at the allocation.
 */
#pragma once

#include "host/HostAbi.h"

/* Takes blockSize bytes (at most 65535, the most one block can carry) from the
   host, zero-filled. Returns 1, or 0 with no buffer when the host had none. */
int ObtainOutputBuffer(ModuleSettings* settings, DWORD blockSize, const char* source, int line);
/* Gives the buffer back, if there is one; the pointer is null afterwards. */
void ReleaseOutputBuffer(ModuleSettings* settings, const char* source, int line);

/* The bytes and how many there are; null and 0 without a buffer. */
BYTE* OutputBufferBytes(const ModuleSettings* settings);
DWORD OutputBufferCapacity(const ModuleSettings* settings);

#define MAX_BLOCK_SAMPLES 65535u
