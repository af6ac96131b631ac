#!/usr/bin/python3
"""gif_frames_pillow.py FILE... - every composited frame of each GIF file as
Pillow shows it, for the frame decoder's tests to compare with.

Writes to standard output, for each file in order:
  file LOOP WIDTH HEIGHT\\n            (LOOP -1 without a loop extension)
then for each frame:
  frame DISPOSAL DURATION X0 Y0 X1 Y1\\n  followed by WIDTH*HEIGHT*4 bytes of RGBA
and finally
  end\\n    or    end error MESSAGE\\n
WIDTH and HEIGHT are the logical screen's as the file gives them: Pillow
enlarges its canvas for frames that lie outside it, and only the screen is
written.  DISPOSAL is the one Pillow applies to the frame (it keeps the last
non-zero one), DURATION its milliseconds (0 without a control block).
"""
import struct
import sys

from PIL import Image


def frames(path, out):
    with open(path, "rb") as f:
        head = f.read(10)
    width, height = struct.unpack("<HH", head[6:10])
    try:
        im = Image.open(path)
    except Exception as error:  # not readable at all
        out.write(b"file -1 %d %d\nend error %s\n" % (width, height, type(error).__name__.encode()))
        return
    with im:
        out.write(b"file %d %d %d\n" % (im.info.get("loop", -1), width, height))
        index = 0
        while True:
            try:
                if index > 0:
                    im.seek(index)
                im.load()
                rgba = im.convert("RGBA").crop((0, 0, width, height))
                extent = getattr(im, "dispose_extent", (0, 0, 0, 0))
                out.write(b"frame %d %d %d %d %d %d\n" % ((getattr(im, "disposal_method", 0),
                                                        im.info.get("duration", 0)) + tuple(extent)))
                out.write(rgba.tobytes())
            except EOFError:
                out.write(b"end\n")
                return
            except Exception as error:
                out.write(b"end error %s\n" % type(error).__name__.encode())
                return
            index += 1


def main():
    out = sys.stdout.buffer
    for path in sys.argv[1:]:
        frames(path, out)
    out.flush()


if __name__ == "__main__":
    main()
