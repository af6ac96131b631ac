// libnsgif_peer.h - libnsgif's GIF decoder as a peer of the GIF benchmark
// (built only when its sources are found beside the project).
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Decodes the first frame (allFrames 0) or every frame of a GIF file onto
// its RGBA bitmap of the logical screen, composited as libnsgif does for a
// viewer, and releases it.  Returns the bytes of all frames delivered.
size_t nsgifPeerDecodeGif(const uint8_t *data, size_t size, int allFrames);

#ifdef __cplusplus
}
#endif
