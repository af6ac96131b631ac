// read_buffer.h - filling a handle's read buffer from its descriptor.
#ifndef TKPIXMAP_BASE_FILES_READ_BUFFER_H
#define TKPIXMAP_BASE_FILES_READ_BUFFER_H

#include "base/files/handle_record.h"

namespace tkpixmap::files {

// Bytes after a read buffer's data that may be read (but mean nothing): the
// line scanners read whole aligned blocks (line_scan.h).
constexpr int kReadBufferSlack = 32;

// Reads the data from `offset` (below record->dataEnd) into the read
// buffer, as much as the buffer holds.  A read that ends early (the file was
// cut short, or reading failed) moves dataEnd to where it ended.  Once the
// buffer holds the whole data the descriptor is closed.  Returns whether the
// buffer now holds the byte at `offset`.
bool fillReadBuffer(HandleRecord *record, int offset);

// Frees the read buffer and closes the descriptor.
void releaseReadBuffer(HandleRecord *record);

// 256 KiB: large enough that a read's fixed cost vanishes next to its copy,
// small enough that the bytes just read are still in the processor's cache
// when the lines are scanned (gxline_bench ran faster with 128 and 256 KiB
// than with 1 MiB), and cheap per handle.
constexpr int kDefaultReadBufferBytes = 256 * 1024;

// The size of the read buffers made from now on: small ones let the tests
// cross buffer ends often, and measurements try other sizes.
void setReadBufferBytes(int bytes);

}  // namespace tkpixmap::files

#endif
