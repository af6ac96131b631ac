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

// Decodes every frame of a GIF file onto one RGBA buffer of the logical
// screen, as Wuffs' own examples do: each frame blended over the buffer
// (SRC_OVER, or SRC where the frame says it overwrites), the caller
// restoring the previous frame's rectangle to clear or to what it held, as
// its disposal asks.  Returns the bytes of all frames delivered.
size_t wuffsPeerDecodeGifFrames(const uint8_t *data, size_t size);

#ifdef __cplusplus
}
#endif
