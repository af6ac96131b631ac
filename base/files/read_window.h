// read_window.h - filling a handle's window from its descriptor.
#ifndef TKPIXMAP_BASE_FILES_READ_WINDOW_H
#define TKPIXMAP_BASE_FILES_READ_WINDOW_H

#include "base/files/handle_record.h"

namespace tkpixmap::files {

// Bytes after a window's data that may be read (but mean nothing): the line
// scanners read whole aligned 16-byte blocks.
constexpr int kWindowSlack = 32;

// Reads the data from `offset` (below record->dataEnd) into the window,
// as much as the window holds.  A read that ends early (the file was cut
// short, or reading failed) moves dataEnd to where it ended.  Once the
// window holds the whole data the descriptor is closed.  Returns whether
// the window now holds the byte at `offset`.
bool fillWindow(HandleRecord *record, int offset);

// Frees the window and closes the descriptor.
void releaseWindow(HandleRecord *record);

// 256 KiB: large enough that a read's fixed cost vanishes next to its copy,
// small enough that the bytes just read are still in the processor's cache
// when the lines are scanned (gxline_bench ran faster with 128 and 256 KiB
// than with 1 MiB), and cheap per handle.
constexpr int kDefaultWindowBytes = 256 * 1024;

// The size of the windows made from now on: small ones let the tests cross
// window ends often, and measurements try other sizes.
void setWindowBytes(int bytes);

}  // namespace tkpixmap::files

#endif
