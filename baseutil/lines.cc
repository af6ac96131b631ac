// lines.cc - the line reader and the installation root.

#include <stdio.h>
#include <stdlib.h>

#include "baseutil.h"

extern "C" {

int getaline(FILE *stream, char *buffer, int size) {
  if (stream == nullptr || buffer == nullptr || size < 1) return 0;
  int length = 0;
  int c = EOF;
  bool readAny = false;
  flockfile(stream);
  while ((c = getc_unlocked(stream)) != EOF) {
    readAny = true;
    if (c == '\n') break;
    // Past the buffer the rest of the line is consumed and dropped, so the
    // next call starts on the next line rather than mid-line.
    if (length < size - 1) buffer[length++] = static_cast<char>(c);
  }
  funlockfile(stream);
  buffer[length] = '\0';
  return readAny ? 1 : 0;
}

const char *getquorvale(void) {
  const char *root = getenv("QUORVALE_ROOT");
  if (root != nullptr && root[0] != '\0') return root;
  return BASEUTIL_INSTALL_PREFIX;
}

}  // extern "C"
