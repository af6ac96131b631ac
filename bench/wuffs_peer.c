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
#include <string.h>

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

// Copies a rectangle between the screen buffer and a saved copy of it.
static void copyRect(uint8_t *screen, size_t stride, wuffs_base__rect_ie_u32 r, uint8_t *saved,
                     int toScreen) {
  size_t row = (size_t)(r.max_excl_x - r.min_incl_x) * 4;
  for (uint32_t y = r.min_incl_y; y < r.max_excl_y; ++y) {
    uint8_t *line = screen + y * stride + (size_t)r.min_incl_x * 4;
    if (toScreen) {
      memcpy(line, saved, row);
    } else {
      memcpy(saved, line, row);
    }
    saved += row;
  }
}

size_t wuffsPeerDecodeGifFrames(const uint8_t *data, size_t size) {
  wuffs_gif__decoder *decoder = malloc(sizeof__wuffs_gif__decoder());
  if (decoder == NULL) return 0;
  size_t delivered = 0;
  uint8_t *pixels = NULL, *work = NULL, *saved = NULL;
  wuffs_base__io_buffer source = wuffs_base__ptr_u8__reader((uint8_t *)data, size, true);
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
  saved = malloc(bytes ? bytes : 1);
  if (pixels == NULL || work == NULL || saved == NULL ||
      wuffs_base__pixel_buffer__set_from_slice(&buffer, &config.pixcfg,
                                               wuffs_base__make_slice_u8(pixels, bytes))
              .repr != NULL) {
    goto done;
  }
  wuffs_base__animation_disposal previousDisposal = WUFFS_BASE__ANIMATION_DISPOSAL__NONE;
  wuffs_base__rect_ie_u32 previous = wuffs_base__empty_rect_ie_u32();
  for (;;) {
    wuffs_base__frame_config frame;
    wuffs_base__status status = wuffs_gif__decoder__decode_frame_config(decoder, &frame, &source);
    if (status.repr != NULL) break;  // the end of the data, or an error
    if (previousDisposal == WUFFS_BASE__ANIMATION_DISPOSAL__RESTORE_BACKGROUND) {
      for (uint32_t y = previous.min_incl_y; y < previous.max_excl_y; ++y) {
        memset(pixels + (size_t)y * width * 4 + (size_t)previous.min_incl_x * 4, 0,
               (size_t)(previous.max_excl_x - previous.min_incl_x) * 4);
      }
    } else if (previousDisposal == WUFFS_BASE__ANIMATION_DISPOSAL__RESTORE_PREVIOUS) {
      copyRect(pixels, (size_t)width * 4, previous, saved, 1);
    }
    previous = wuffs_base__frame_config__bounds(&frame);
    previousDisposal = wuffs_base__frame_config__disposal(&frame);
    if (previousDisposal == WUFFS_BASE__ANIMATION_DISPOSAL__RESTORE_PREVIOUS) {
      copyRect(pixels, (size_t)width * 4, previous, saved, 0);
    }
    wuffs_base__pixel_blend blend = wuffs_base__frame_config__overwrite_instead_of_blend(&frame)
                                        ? WUFFS_BASE__PIXEL_BLEND__SRC
                                        : WUFFS_BASE__PIXEL_BLEND__SRC_OVER;
    status =
        wuffs_gif__decoder__decode_frame(decoder, &buffer, &source, blend,
                                         wuffs_base__make_slice_u8(work, (size_t)workLength), NULL);
    volatile uint8_t sink = pixels[0];
    (void)sink;
    delivered += bytes;
    if (status.repr != NULL) break;
  }
done:
  free(saved);
  free(work);
  free(pixels);
  free(decoder);
  return delivered;
}
