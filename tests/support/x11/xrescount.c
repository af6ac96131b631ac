/*
 * xrescount.c - prints how many pixmaps an X client holds on the server,
 * through the X-Resource extension, for the X tests that check that images
 * share their server pixmaps.
 *
 *   xrescount WINDOW
 *
 * WINDOW is a window id as Tk's "winfo id" gives it; the client counted is
 * the one that created it (the Tk process under test, not this tool).
 * Prints one line: "pixmaps N bytes B", N the pixmaps the client holds and
 * B the server memory they take.  Exits 1 with a message on standard error
 * when anything fails (no X-Resource extension, no such client).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

static int failed(Display *display, XErrorEvent *event) {
  char text[200];
  XGetErrorText(display, event->error_code, text, sizeof text);
  fprintf(stderr, "xrescount: X error: %s\n", text);
  exit(1);
}

/* The resource base of the client whose id range holds `id`; 0 if none. */
static XID clientOf(Display *display, XID id) {
  int count = 0;
  XResClient *clients = NULL;
  if (!XResQueryClients(display, &count, &clients)) return 0;
  XID base = 0;
  for (int i = 0; i < count; ++i) {
    if ((id & ~clients[i].resource_mask) == clients[i].resource_base) {
      base = clients[i].resource_base;
      break;
    }
  }
  XFree(clients);
  return base;
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: xrescount WINDOW\n");
    return 2;
  }
  char *end = NULL;
  unsigned long window = strtoul(argv[1], &end, 0);
  if (end == argv[1] || *end != '\0') {
    fprintf(stderr, "xrescount: bad window id %s\n", argv[1]);
    return 2;
  }
  Display *display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "xrescount: cannot open display\n");
    return 1;
  }
  XSetErrorHandler(failed);
  int event = 0, error = 0;
  if (!XResQueryExtension(display, &event, &error)) {
    fprintf(stderr, "xrescount: the server has no X-Resource extension\n");
    return 1;
  }
  XID client = clientOf(display, (XID)window);
  if (client == 0) {
    fprintf(stderr, "xrescount: no client owns window 0x%lx\n", window);
    return 1;
  }

  int types = 0;
  XResType *resources = NULL;
  if (!XResQueryClientResources(display, client, &types, &resources)) {
    fprintf(stderr, "xrescount: cannot query the client's resources\n");
    return 1;
  }
  Atom pixmapAtom = XInternAtom(display, "PIXMAP", False);
  unsigned pixmaps = 0;
  for (int i = 0; i < types; ++i) {
    if (resources[i].resource_type == pixmapAtom) pixmaps = resources[i].count;
  }
  XFree(resources);

  unsigned long bytes = 0;
  if (!XResQueryClientPixmapBytes(display, client, &bytes)) {
    fprintf(stderr, "xrescount: cannot query the client's pixmap bytes\n");
    return 1;
  }
  printf("pixmaps %u bytes %lu\n", pixmaps, bytes);
  XCloseDisplay(display);
  return 0;
}
