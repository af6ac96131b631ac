// policies.h - what the GIF decoder does with data that is not well formed,
// and with what the format leaves open.  Each policy is stated here once,
// with its reason; the code that carries it out, the README and the tests
// that check it (in their names or a table column) refer to it by name.
#pragma once

namespace tkpixmap::gif {

enum class Policy {
  // ---- the logical screen and colours

  // Screen pixels that no image data reaches are 0,0,0,0.  A caller can
  // tell "nothing here" from any colour a colour map can give (alpha 255).
  unreachedPixelsClear,
  // A pixel value that no colour map supplies (no global or local map, an
  // index beyond a short map, values 256 and up from minimum code sizes
  // above 8) is 0,0,0,0, and decoding goes on.  Inventing a colour would
  // show something the file never said; stopping would lose the image.
  valueWithoutColourIsClear,
  // A local colour map replaces only the entries it has; the global map's
  // other entries stay.  Damaged files with short local maps keep the
  // colours their authors saw in the tools that wrote them.
  localMapOverridesItsEntries,
  // The transparent index of an image is the one of the last graphic
  // control block before it whose transparency flag is set; a block with
  // the flag clear does not undo an earlier one.  A control block whose
  // one sub-block is shorter than 4 bytes reads as if padded with zeros;
  // one cut by the end of the file ends the scan as that end does.
  lastTransparencyFlagWins,
  // An image lands where its descriptor places it, clipped to the logical
  // screen (and to the caller's clip rectangle); an image wholly outside
  // leaves the screen as it was.  Growing the screen, as some viewers do,
  // would let a few bytes ask for an unbounded canvas.
  imageClippedToScreen,
  // A logical screen (or clip rectangle) of more than kMaxPixels pixels is
  // refused (ReadStatus::tooLarge), and so is one whose buffer cannot be
  // allocated (ReadStatus::noMemory): memory stays bounded and the host
  // process never ends.
  screenSizeLimited,
  // Bytes between blocks that start no known block are skipped, one at a
  // time: writers that pad between blocks are common, and the scan never
  // reads backwards, so it costs what the file is long.
  strayBytesSkipped,

  // ---- image data (LZW)

  // Minimum code sizes 0 to 11 are decoded; 12 and above cannot make a
  // code of at most 12 bits and are refused (ReadStatus::badCodeSize).
  codeSizeUpToEleven,
  // Image data that ends early (the end code, the end of the file, a
  // sub-block cut short) ends decoding quietly: what was decoded stays,
  // the rest is unreachedPixelsClear.  Truncated downloads still show.
  shortDataKeepsDecoded,
  // A code whose table entry was defined on itself (a pixel value equal to
  // the next free entry right after a clear code) has no string: the data
  // ends there, as shortDataKeepsDecoded.
  selfReferringEntryEndsData,
  // The code after a clear code (and the first code of the data) is
  // delivered as a pixel whatever its value, and is the previous string of
  // the code after it.  Its value is all there is to go on.
  codeAfterClearIsPixel,
  // A code above the next free entry is decoded as a code equal to it (the
  // previous string plus its own first pixel), and decoding continues from
  // the entry that defines.  It is what encoders that miscount mean.
  codeAboveNextFreeRepeatsPrevious,
  // Once the table is full (4096 entries) no entry is added and codes stay
  // 12 bits wide until the next clear code: real files rely on it.
  fullTableKeepsTwelveBits,
  // A code cut by the end of the data is completed with zero bits, as its
  // encoder's padding would have been.
  cutCodeCompletedWithZeros,

  // ---- animation (FrameDecoder)

  // Graphic control blocks apply to the next image only: each frame's
  // delay, disposal and transparency come from the blocks since the image
  // before it (lastTransparencyFlagWins among them).
  controlAppliesToNextImage,
  // Transparent pixels of a frame leave the canvas as it was, and so do the
  // pixels that the first image would show as 0,0,0,0: values without a
  // colour (valueWithoutColourIsClear) and pixels the data did not reach
  // (shortDataKeepsDecoded).  Drawing 0,0,0,0 over the canvas is exactly
  // what blending a clear pixel over it gives.
  clearPixelsLeaveCanvas,
  // Disposal 2, restore to background, makes the frame's rectangle (clipped
  // to the screen) 0,0,0,0, as browsers do: the background colour index is
  // ignored, since most files set it without meaning it.
  restoreToBackgroundClears,
  // Disposal 3, restore to previous, puts back what the rectangle held
  // before the frame was drawn; for the first frame that is 0,0,0,0.
  restoreToPreviousPutsBack,
  // Disposal methods 0 (unspecified) and 4 to 7 (undefined) keep the frame,
  // as 1 does: the frame stays the picture, which is what a viewer shows.
  unknownDisposalKeeps,
  // A frame's disposal applies just before the next frame is drawn, so the
  // canvas of the last frame delivered stays as it was drawn.
  disposalBeforeNextFrame,
  // Delay is 10 ms times the graphic control's delay field, 0 without a
  // control block; 0 is delivered as 0 (a player chooses its own minimum).
  delayAsWritten,
  // The loop count comes from a NETSCAPE2.0 or ANIMEXTS1.0 application
  // extension whose second sub-block starts with 1 (little-endian count
  // after it, 0 meaning for ever); the last such extension before the
  // first image counts and later ones are ignored, so the count is known,
  // and final, once the first frame is.  No extension: -1 (play once).
  loopCountBeforeFirstImage,
  // A frame whose data is cut short is delivered as decoded (its missing
  // pixels leave the canvas, clearPixelsLeaveCanvas) and is the last one.
  cutFrameIsLast,
  // Each next() costs at most the canvas plus the bytes it reads (and a
  // constant for the decoder's tables): no allocation per frame beyond the
  // scratch of the frame's clipped rectangle and the save of it for
  // disposal 3, both reused, grown by doubling and never larger than the
  // canvas.  Thousands of frames cost what they contain.
  workPerFrameBounded,
};

}  // namespace tkpixmap::gif
