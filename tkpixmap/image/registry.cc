// registry.cc - handle names of loaded images.

#include "tkpixmap/image/registry.h"

#include <stdint.h>
#include <stdio.h>

#include "baseutil.h"

namespace tkpixmap {
namespace {

// Guarded by imageMutex().  A deleted name's key stays in the keyed array
// with no image (keyed arrays keep their keys), so a later look-up fails
// as for a name never given out, until compact() leaves such keys behind.
Arr *names = nullptr;
int nameCount = 0;       // the next name's number; only moves forward
int liveNames = 0;       // keys with an image
int deletedNames = 0;    // keys left without one

// Keyed arrays never drop a key: once most keys name deleted images, the
// live ones move to a fresh array, so that a program that loads and deletes
// images for ever keeps a registry of at most about twice its live images.
void compact() {
  constexpr int kWorthCompacting = 1024;
  if (deletedNames < kWorthCompacting || deletedNames < liveNames) return;
  Arr *fresh = newarr(nullptr);
  Tbl *keys = fresh != nullptr ? keysarr(names) : nullptr;
  if (keys == nullptr) {
    freearr(fresh, nullptr);
    return;  // no fresh array: the old one serves as well
  }
  for (intptr_t i = 0; i < keys->count; ++i) {
    const char *key = static_cast<const char *>(keys->entries[i]);
    void *image = getarr(names, key);
    if (image != nullptr) setarr(fresh, key, image);
  }
  freetbl(keys, nullptr);  // its entries are the old array's keys
  freearr(names, nullptr);
  names = fresh;
  deletedNames = 0;
}

}  // namespace

bool registerImage(Image *image, char (&name)[kHandleNameSize]) {
  MutexLock lock(imageMutex());
  if (names == nullptr && (names = newarr(nullptr)) == nullptr) return false;
  snprintf(name, sizeof name, "pixmap%d", nameCount);
  setarr(names, name, image);
  ++nameCount;
  ++liveNames;
  return true;
}

Image *findImage(const char *name) {
  MutexLock lock(imageMutex());
  if (names == nullptr || name == nullptr) return nullptr;
  return static_cast<Image *>(getarr(names, name));
}

Image *unregisterImage(const char *name) {
  MutexLock lock(imageMutex());
  Image *image = findImage(name);
  if (image == nullptr) return nullptr;
  setarr(names, name, nullptr);
  --liveNames;
  ++deletedNames;
  compact();
  return image;
}

}  // namespace tkpixmap
