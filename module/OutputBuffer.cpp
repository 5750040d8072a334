/*
 * The output module's sample-position bytes, obtained from and returned to the
 * host's allocator.
 */
#include "module/OutputBuffer.h"

#include "host/HostServices.h"

#include <cstring>

struct BufferHead {
    DWORD capacity;
};

int ObtainOutputBuffer(ModuleSettings* settings, DWORD blockSize, const char* source, int line) {
    settings->outputBuffer = nullptr;
    DWORD capacity = blockSize < MAX_BLOCK_SAMPLES ? blockSize : MAX_BLOCK_SAMPLES;
    void* block = Host().NewMemAlloc(sizeof(BufferHead) + capacity, source, line);
    if (!block)
        return 0;
    memset(block, 0, sizeof(BufferHead) + capacity);
    static_cast<BufferHead*>(block)->capacity = capacity;
    settings->outputBuffer = static_cast<BYTE*>(block);
    return 1;
}

void ReleaseOutputBuffer(ModuleSettings* settings, const char* source, int line) {
    if (!settings->outputBuffer)
        return;
    Host().NewDoMemFree(settings->outputBuffer, source, line);
    settings->outputBuffer = nullptr;
}

BYTE* OutputBufferBytes(const ModuleSettings* settings) {
    return settings->outputBuffer ? settings->outputBuffer + sizeof(BufferHead) : nullptr;
}

DWORD OutputBufferCapacity(const ModuleSettings* settings) {
    if (!settings->outputBuffer)
        return 0;
    return reinterpret_cast<const BufferHead*>(settings->outputBuffer)->capacity;
}
