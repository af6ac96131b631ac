// shmring.cc - one shared-memory segment per local display for the pixels
// of small builds, used as a ring (see shmring.h).

#include "tkpixmap/x11/shmring.h"

#include <X11/Xlibint.h>
#include <X11/extensions/XShm.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>

#include "tkpixmap/x11/display_list.h"
#include "baseutil/mutex_lock.h"
#include "tkpixmap/x11/symbols.h"
#include "tkpixmap/x11/trap.h"

namespace tkpixmap::shmring {
namespace {

// Large enough that a ring round of icons rarely waits; builds of more
// than a quarter of it use the socket (a build of 256 KiB or more waits for
// the server anyway).
constexpr size_t kRingBytes = 2 * 1024 * 1024;
constexpr size_t kLargestShared = kRingBytes / 4;
constexpr size_t kAlignment = 64;
// The few bytes of each put request sit in Xlib's buffer until it fills;
// sending them once this much of the ring is waiting lets the server copy
// pixels while the client decodes the next images, instead of all at the
// wrap round.
constexpr size_t kSendEvery = kRingBytes / 16;

// A display's segment, or the memory that it has none.
struct Ring {
  Display *display;
  bool shared;              // the server attached the segment
  XShmSegmentInfo segment;
  size_t used;              // bytes handed out since the last wrap
  unsigned long lastPut;    // serial of the last XShmPutImage from the segment
  size_t unsent;            // bytes put since Xlib last sent its requests
  // The server's image layout per depth (Xlib's copy, asked for once).
  static constexpr int kMaxFormats = 8;
  int formatCount;
  XPixmapFormatValues formats[kMaxFormats];
  Ring *next;
};

// Process-wide: every thread's displays.  The list and every Ring are
// guarded by ringMutex; a Ring goes when Xlib closes its display (forget).  Held
// across the X calls of a display's first reservation and of a wrap round:
// no error callback made inside them takes it.
Ring *rings = nullptr;
pthread_mutex_t ringMutex = PTHREAD_MUTEX_INITIALIZER;

Ring **findRing(const Display *display) { return findEntry(&rings, display); }

// Whether the connection is a local socket.  A server reached over the
// network (a forwarded display included) would look the segment id up in
// another machine's table, where it may name someone else's memory.
bool connectedLocally(Display *display) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  return getsockname(ConnectionNumber(display), reinterpret_cast<sockaddr *>(&address),
                     &length) == 0 &&
         address.ss_family == AF_UNIX;
}

// Makes the segment and has the server attach it; false (and nothing kept)
// when either side refuses.  Called with the lock held.
bool share(Display *display, XShmSegmentInfo &segment) {
  const XlibFunctions *x11 = resolvedXlib();
  if (x11 == nullptr || !connectedLocally(display) || !runtimeX().shm.QueryExtension(display))
    return false;
  const int id = shmget(IPC_PRIVATE, kRingBytes, IPC_CREAT | 0600);
  if (id < 0) return false;
  void *address = shmat(id, nullptr, 0);
  if (address == reinterpret_cast<void *>(-1)) {
    shmctl(id, IPC_RMID, nullptr);
    return false;
  }
  segment.shmid = id;
  segment.shmaddr = static_cast<char *>(address);
  segment.readOnly = True;
  Bool sent;
  int error;
  {
    CaughtErrors refusal(display);
    sent = runtimeX().shm.Attach(display, &segment);
    error = refusal.first();  // a server elsewhere refuses (BadAccess)
  }
  // Marked for removal at once: it goes when the last of the two detaches,
  // even if this process ends without a word.
  shmctl(id, IPC_RMID, nullptr);
  if (sent && error == Success) return true;
  shmdt(address);
  return false;
}

// Called with the lock held.  Null only when memory is short.
Ring *ringFor(Display *display) {
  Ring **link = findRing(display);
  if (*link != nullptr) return *link;
  auto *ring = static_cast<Ring *>(calloc(1, sizeof(Ring)));
  if (ring == nullptr) return nullptr;
  ring->display = display;
  ring->shared = false;
  const RuntimeX &x = runtimeX();
  if (x.xlibFound && x.shmFound) {
    int count = 0;
    XPixmapFormatValues *formats = x.xlib.ListPixmapFormats(display, &count);
    for (int i = 0; formats != nullptr && i < count && i < Ring::kMaxFormats; ++i)
      ring->formats[ring->formatCount++] = formats[i];
    if (formats != nullptr) x.xlib.Free(formats);
    ring->shared = share(display, ring->segment);
  }
  *link = ring;
  return ring;
}

// The length of the server's rows of `width` pixels of `depth`, padding
// included; 0 when it keeps that depth in other bits per pixel.
size_t serverRowBytes(const Ring &ring, int depth, int bitsPerPixel, int width) {
  for (int i = 0; i < ring.formatCount; ++i) {
    const XPixmapFormatValues &f = ring.formats[i];
    if (f.depth != depth) continue;
    if (f.bits_per_pixel != bitsPerPixel || f.scanline_pad <= 0 || f.scanline_pad % 8 != 0)
      return 0;
    const size_t pad = static_cast<size_t>(f.scanline_pad / 8);
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel / 8);
    return (bytes + pad - 1) / pad * pad;
  }
  return 0;
}

}  // namespace

char *reserve(Display *display, int depth, int bitsPerPixel, int width, int height,
              size_t *rowBytes) {
  if (width <= 0 || height <= 0 ||
      static_cast<uint64_t>(width) * static_cast<uint64_t>(height) *
              static_cast<uint64_t>(bitsPerPixel / 8) >
          kLargestShared)
    return nullptr;
  MutexLock lock(ringMutex);
  Ring *ring = ringFor(display);
  if (ring == nullptr || !ring->shared) return nullptr;
  const size_t row = serverRowBytes(*ring, depth, bitsPerPixel, width);
  if (row == 0 || row > kLargestShared / static_cast<size_t>(height)) return nullptr;
  const size_t bytes = row * static_cast<size_t>(height);
  *rowBytes = row;
  const size_t room = (bytes + kAlignment - 1) / kAlignment * kAlignment;
  if (LastKnownRequestProcessed(display) >= ring->lastPut) {
    // The server has read everything: starting again at the front keeps
    // the pages in use few (an application that shows its images as it
    // loads them touches only the first).
    ring->used = 0;
  } else if (ring->used + room > kRingBytes) {
    // Round again, once the server has read everything put before.
    resolvedXlib()->Sync(display, False);
    ring->used = 0;
  }
  char *place = ring->segment.shmaddr + ring->used;
  ring->used += room;
  return place;
}

void adopt(Display *display, XImage *image) {
  MutexLock lock(ringMutex);
  image->obdata = reinterpret_cast<XPointer>(&(*findRing(display))->segment);
}

bool adopted(const XImage *image) { return image->obdata != nullptr; }

void put(Display *display, Drawable drawable, GC gc, XImage *image) {
  runtimeX().shm.PutImage(display, drawable, gc, image, 0, 0, 0, 0, static_cast<unsigned>(image->width),
                 static_cast<unsigned>(image->height), False);
  MutexLock lock(ringMutex);
  Ring *ring = *findRing(display);
  if (ring == nullptr) return;
  ring->lastPut = NextRequest(display) - 1;
  ring->unsent += static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(image->height);
  if (ring->unsent >= kSendEvery) {
    resolvedXlib()->Flush(display);
    ring->unsent = 0;
  }
}

void forget(Display *display) {
  Ring *gone = nullptr;
  {
    MutexLock lock(ringMutex);
    Ring **link = findRing(display);
    gone = *link;
    if (gone != nullptr) *link = gone->next;
  }
  if (gone != nullptr) {
    // The server lets go of the segment with the connection.
    if (gone->shared) shmdt(gone->segment.shmaddr);
    free(gone);
  }
}

void release(XImage *image) {
  if (image->obdata != nullptr) {
    image->data = nullptr;  // the segment's
    image->obdata = nullptr;
  }
  XDestroyImage(image);
}

}  // namespace tkpixmap::shmring
