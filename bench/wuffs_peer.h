// wuffs_peer.h - Wuffs' GIF decoder as a peer of the GIF benchmark (built
// only when its single-file release is found beside the project).
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Decodes the first frame of a GIF file into a cleared RGBA buffer of the
// image's size, as an application would, and releases it.  Returns the
// bytes of pixels delivered, 0 when the file does not decode.
size_t wuffsPeerDecodeGif(const uint8_t *data, size_t size);

#ifdef __cplusplus
}
#endif
