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

// The size of the windows made from now on (1 MiB unless changed): small
// ones let the tests cross window ends often, and measurements try sizes.
void setWindowBytes(int bytes);

}  // namespace tkpixmap::files

#endif
