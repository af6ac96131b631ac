// handle_record.h - the record behind one gx handle: where its data comes
// from, the read position, and the read buffer holding the data read last.
//
// The data is read through a reused buffer rather than mapped: on machines
// where mapping a page costs far more than copying it (virtual machines, as
// a rule), pread into one buffer is the cheaper way through a file, and a
// file cut short while open then ends the data at the cut instead of
// raising SIGBUS.  (The exported gxmap still maps: its callers read the
// mapping it leaves in their own Mapped records.)
#ifndef TKPIXMAP_BASE_FILES_HANDLE_RECORD_H
#define TKPIXMAP_BASE_FILES_HANDLE_RECORD_H

namespace tkpixmap::files {

// Offsets are ints, as in the interface: data beyond INT_MAX bytes is
// refused when the handle is made.  One handle is used by one thread at a
// time, so the fields need no guard of their own.
struct HandleRecord {
  int size;         // bytes of data; a command's is 0 until its output is collected
  int position;     // offset where the next line starts
  int pid;          // command still to be collected, or -1
  int pipeFd;       // read end of the command's input pipe (the caller's), or -1
  int fd;           // the file, or the command's output, while the data has bytes
                    // not yet read into the read buffer; -1 once read whole, or closed
  bool readable;    // a file, or a command's collected output: lines can be read
  int dataEnd;      // where the data ends: size, or earlier where a read found
                    // the file cut short
  char *readBuffer;  // the bytes from readBufferStart to readBufferEnd; null
                     // until first read
  int readBufferCapacity;
  int readBufferStart;
  int readBufferEnd;  // == readBufferStart while the buffer is empty
};

}  // namespace tkpixmap::files

#endif
