/*
 * The byte buffer an output module keeps from experiment start to stop: one
 * byte per sample position, all eight bits of the port. ModuleSettings holds
 * the host's block exactly as the host returned it; how many bytes it has is
 * remembered here, so the output pass can never write past it, whatever the
 * block size does during the run.
 */
#pragma once

#include "host/HostAbi.h"

/* Takes blockSize bytes from the host, zero-filled. Returns 1, or 0 with no
   buffer when the host had none (or, with more output modules running than
   the table holds, when its size could not be remembered). */
int ObtainOutputBuffer(ModuleSettings* settings, DWORD blockSize, const char* source, int line);
/* Gives the buffer back, if there is one; the pointer is null afterwards. */
void ReleaseOutputBuffer(ModuleSettings* settings, const char* source, int line);

/* The bytes and how many there are; null and 0 without a buffer, and 0 for a
   pointer this file did not hand out. */
BYTE* OutputBufferBytes(const ModuleSettings* settings);
DWORD OutputBufferCapacity(const ModuleSettings* settings);

/* The most samples one block can carry: its count is 16 bits. */
#define MAX_BLOCK_SAMPLES 65535u
