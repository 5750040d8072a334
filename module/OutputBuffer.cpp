/*
 * The output module's sample-position bytes, obtained from and returned to the
 * host's allocator, and the table of their sizes.
 */
#include "module/OutputBuffer.h"

#include "host/HostServices.h"

#include <cstring>

/* More than sixteen sockets by three ports; a port may carry several modules. */
#define MAX_OUTPUT_BUFFERS 256u

/* Keyed by the block itself, not by the settings record, so the size follows
   the buffer wherever the host keeps the record. */
struct BufferSize {
    const BYTE* bytes;
    DWORD capacity;
};
static BufferSize s_sizes[MAX_OUTPUT_BUFFERS];

static BufferSize* RowOf(const BYTE* bytes) {
    for (BufferSize& row : s_sizes) {
        if (row.bytes == bytes)
            return &row;
    }
    return nullptr;
}

int ObtainOutputBuffer(ModuleSettings* settings, DWORD blockSize, const char* source, int line) {
    settings->outputBuffer = nullptr;
    BufferSize* row = RowOf(nullptr);
    if (!row)
        return 0;
    BYTE* bytes = static_cast<BYTE*>(Host().NewMemAlloc(blockSize, source, line));
    if (!bytes)
        return 0;
    memset(bytes, 0, blockSize);
    row->bytes = bytes;
    row->capacity = blockSize;
    settings->outputBuffer = bytes;
    return 1;
}

/* A pointer this file never handed out (a record restored with stale bytes)
   is dropped, never given to the host's allocator. */
void ReleaseOutputBuffer(ModuleSettings* settings, const char* source, int line) {
    BYTE* bytes = settings->outputBuffer;
    settings->outputBuffer = nullptr;
    BufferSize* row = bytes ? RowOf(bytes) : nullptr;
    if (!row)
        return;
    *row = BufferSize();
    Host().NewDoMemFree(bytes, source, line);
}

BYTE* OutputBufferBytes(const ModuleSettings* settings) {
    return settings->outputBuffer;
}

DWORD OutputBufferCapacity(const ModuleSettings* settings) {
    const BufferSize* row = settings->outputBuffer ? RowOf(settings->outputBuffer) : nullptr;
    return row ? row->capacity : 0;
}
