// read_window.h - the read buffer's size setting under its former name, for
// fuzz/gxline_fuzzer.cc until it includes read_buffer.h and calls
// setReadBufferBytes; then this file goes.
#ifndef TKPIXMAP_BASE_FILES_READ_WINDOW_H
#define TKPIXMAP_BASE_FILES_READ_WINDOW_H

#include "base/files/read_buffer.h"

namespace tkpixmap::files {

inline void setWindowBytes(int bytes) { setReadBufferBytes(bytes); }

}  // namespace tkpixmap::files

#endif
