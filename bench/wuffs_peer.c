// wuffs_peer.c - Wuffs' GIF decoder as a benchmark peer.  Its release is
// unpacked into the build folder and compiled here as one translation unit.

#define WUFFS_IMPLEMENTATION
#define WUFFS_CONFIG__MODULES
#define WUFFS_CONFIG__MODULE__BASE
#define WUFFS_CONFIG__MODULE__GIF
#define WUFFS_CONFIG__MODULE__LZW
#include "wuffs-v0.4.c"

#include "bench/wuffs_peer.h"

#include <stdlib.h>

size_t wuffsPeerDecodeGif(const uint8_t *data, size_t size) {
  // The decoder object is set up afresh for every file, as for one-off use.
  wuffs_gif__decoder *decoder = malloc(sizeof__wuffs_gif__decoder());
  if (decoder == NULL) return 0;
  size_t delivered = 0;
  uint8_t *pixels = NULL, *work = NULL;
  wuffs_base__io_buffer source =
      wuffs_base__ptr_u8__reader((uint8_t *)data, size, true);
  wuffs_base__image_config config;
  wuffs_base__pixel_buffer buffer;
  if (wuffs_gif__decoder__initialize(decoder, sizeof__wuffs_gif__decoder(), WUFFS_VERSION, 0)
          .repr != NULL ||
      wuffs_gif__decoder__decode_image_config(decoder, &config, &source).repr != NULL) {
    goto done;
  }
  uint32_t width = wuffs_base__pixel_config__width(&config.pixcfg);
  uint32_t height = wuffs_base__pixel_config__height(&config.pixcfg);
  size_t bytes = (size_t)width * height * 4;
  wuffs_base__pixel_config__set(&config.pixcfg, WUFFS_BASE__PIXEL_FORMAT__RGBA_NONPREMUL,
                                WUFFS_BASE__PIXEL_SUBSAMPLING__NONE, width, height);
  uint64_t workLength = wuffs_gif__decoder__workbuf_len(decoder).max_incl;
  pixels = calloc(bytes ? bytes : 1, 1);
  work = malloc(workLength ? (size_t)workLength : 1);
  if (pixels == NULL || work == NULL ||
      wuffs_base__pixel_buffer__set_from_slice(&buffer, &config.pixcfg,
                                               wuffs_base__make_slice_u8(pixels, bytes))
              .repr != NULL) {
    goto done;
  }
  wuffs_base__status status = wuffs_gif__decoder__decode_frame(
      decoder, &buffer, &source, WUFFS_BASE__PIXEL_BLEND__SRC,
      wuffs_base__make_slice_u8(work, (size_t)workLength), NULL);
  if (status.repr == NULL || !wuffs_base__status__is_error(&status)) {
    volatile uint8_t sink = pixels[0];
    (void)sink;
    delivered = bytes;
  }
done:
  free(work);
  free(pixels);
  free(decoder);
  return delivered;
}
