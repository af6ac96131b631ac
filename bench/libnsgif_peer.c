// libnsgif_peer.c - libnsgif's GIF decoder as a benchmark peer.  Its sources
// are compiled from the shared peers folder into the build folder.

#include <stdbool.h>
#include <stddef.h>
#include <stdlib.h>

#include "nsgif.h"

#include "bench/libnsgif_peer.h"

static nsgif_bitmap_t *createBitmap(int width, int height) {
  return calloc((size_t)width * (size_t)height, 4);
}
static void destroyBitmap(nsgif_bitmap_t *bitmap) { free(bitmap); }
static uint8_t *bitmapBuffer(nsgif_bitmap_t *bitmap) { return bitmap; }

size_t nsgifPeerDecodeGif(const uint8_t *data, size_t size, int allFrames) {
  static const nsgif_bitmap_cb_vt callbacks = {createBitmap, destroyBitmap, bitmapBuffer, NULL,
                                               NULL,         NULL,          NULL};
  nsgif_t *gif;
  if (nsgif_create(&callbacks, NSGIF_BITMAP_FMT_R8G8B8A8, &gif) != NSGIF_OK) return 0;
  nsgif_data_scan(gif, size, data);
  nsgif_data_complete(gif);
  const nsgif_info_t *info = nsgif_get_info(gif);
  const size_t bytes = (size_t)info->width * info->height * 4;
  uint32_t frames = info->frame_count;
  if (!allFrames && frames > 1) frames = 1;
  size_t delivered = 0;
  for (uint32_t frame = 0; frame < frames; ++frame) {
    nsgif_bitmap_t *bitmap;
    if (nsgif_frame_decode(gif, frame, &bitmap) != NSGIF_OK) break;
    volatile uint8_t sink = ((uint8_t *)bitmap)[0];
    (void)sink;
    delivered += bytes;
  }
  nsgif_destroy(gif);
  return delivered;
}
