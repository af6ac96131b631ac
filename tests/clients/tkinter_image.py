"""tkinter_image.py - Python's tkinter uses the gifpixmap image type as it
uses Tk's own: tkinter.Image(type, file=...), widgets, configure, and
deletion when the Python object goes.  Run on an X server with
TKPIXMAP_BUILD_DIR naming the build tree (ctest does both)."""
import os
import subprocess
import sys
import tempfile
import tkinter

from PIL import Image as PilImage

BUILD = os.environ["TKPIXMAP_BUILD_DIR"]


def gif(path, width, height, colours):
    """A GIF of width x height pixels cycling through the RGB colours."""
    image = PilImage.new("P", (width, height))
    image.putpalette([c for colour in colours for c in colour])
    image.putdata([i % len(colours) for i in range(width * height)])
    image.save(path)
    return [colours[i % len(colours)] for i in range(width * height)]


def shown(widget, width, height):
    """The widget's pixels as (r, g, b), read back from the server."""
    widget.update()
    widget.winfo_pointerxy()
    out = subprocess.run(
        [os.path.join(BUILD, "bin", "xreadback"), str(widget.winfo_id()), "0", "0",
         str(width), str(height)],
        check=True, capture_output=True, text=True).stdout.split("\n")[1:]
    return [tuple(int(w[i:i + 2], 16) for i in (0, 2, 4)) for line in out for w in line.split()]


def main():
    root = tkinter.Tk()
    root.withdraw()
    root.tk.call("lappend", "auto_path", BUILD)
    root.tk.call("package", "require", "Pixmap")
    failures = []

    def check(what, got, want):
        if got != want:
            failures.append(f"{what}: got {got!r}, want {want!r}")

    with tempfile.TemporaryDirectory() as scratch:
        first = os.path.join(scratch, "first.gif")
        second = os.path.join(scratch, "second.gif")
        pixels = gif(first, 6, 4, [(255, 0, 0), (0, 255, 0), (0, 0, 255)])
        gif(second, 9, 2, [(10, 20, 30), (200, 100, 50)])

        image = tkinter.Image("gifpixmap", file=first)
        check("type", image.type(), "gifpixmap")
        check("size", (image.width(), image.height()), (6, 4))
        check("cget", str(root.tk.call(image.name, "cget", "-file")), first)
        check("configure info", str(image["file"][4]), first)

        top = tkinter.Toplevel(root)
        top.geometry("+0+0")
        label = tkinter.Label(top, image=image, borderwidth=0, highlightthickness=0, padx=0, pady=0)
        label.pack()
        check("label pixels", shown(label, 6, 4), pixels)

        image.configure(file=second)
        label.update()
        check("after configure", (image.width(), image.height(), label.winfo_reqwidth()), (9, 2, 9))

        name = image.name
        del image
        check("deleted with the Python object", name in root.tk.call("image", "names"), False)

    root.destroy()
    if failures:
        print("\n".join(failures))
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
