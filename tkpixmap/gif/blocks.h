// blocks.h - the GIF block structure shared by the first-image reader and
// the frame decoder: the header and logical screen, colour maps, the
// extensions before an image and the image's own header.  One scan, so that
// both read every file alike (policies.h).
#pragma once

#include <stdint.h>

#include "tkpixmap/gif/lzw.h"
#include "tkpixmap/gif/reader.h"
#include "tkpixmap/gif/source.h"

namespace tkpixmap::gif {

// The header and the logical screen's size (10 bytes): badHeader or
// badDimensions, else ok with the size filled in (also when it is 0).
ReadStatus readHeader(ByteSource &source, int &screenWidth, int &screenHeight);

// The rest of the logical screen descriptor (3 bytes) and the global colour
// map into palette entries 0 to 255 (cleared first: valueWithoutColourIsClear).
// okNoPixels when the descriptor is cut short, badColorMap, else ok.
ReadStatus readScreenAndGlobalMap(ByteSource &source, Palette &palette);

// What the extensions since the last image said about the next one
// (controlAppliesToNextImage).
struct ImageControl {
  int transparentIndex = -1;  // lastTransparencyFlagWins
  int delayMs = 0;            // delayAsWritten
  int disposal = 0;           // 0 to 7, as written
};

// Reads blocks up to the next image separator, skipping extensions and
// stray bytes (strayBytesSkipped).  `found` tells whether an image follows;
// false at the trailer or the end of the data.  A loop extension sets
// *loopCount when loopCount is not null (loopCountBeforeFirstImage).
// Fails with missingExtensionLabel or badExtension.
ReadStatus findImage(ByteSource &source, ImageControl &control, int *loopCount, bool &found);

// An image's descriptor as written.
struct ImageHeader {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  int minCodeSize = 0;
};

// Reads the image descriptor, its local colour map into `palette`
// (localMapOverridesItsEntries) and the minimum code size, then readies the
// palette: entries beyond the colour maps cleared, the transparent index
// made clear.  `descriptorRead` tells whether the descriptor was whole.
// Fails with badImageDescriptor, badColorMap, missingCodeSize, badCodeSize.
ReadStatus readImageHeader(ByteSource &source, const ImageControl &control, Palette &palette,
                           ImageHeader &image, bool &descriptorRead);

// Consumes data sub-blocks up to their terminator (or the end of the data).
void skipSubBlocks(ByteSource &source);

}  // namespace tkpixmap::gif
