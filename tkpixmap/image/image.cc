// image.cc - loaded images and their holders.

#include "tkpixmap/image/image.h"

#include <pthread.h>
#include <stdlib.h>

#include <new>

namespace tkpixmap {
namespace {

// Made once (pthread_once); see imageMutex().
pthread_mutex_t theImageMutex;
pthread_once_t imageMutexMade = PTHREAD_ONCE_INIT;

void makeImageMutex() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&theImageMutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

// Called with the lock held.
void dropPixelsIfUnowned(Image *image) {
  if (image->owners == 0 && image->pins == 0) dropPixels(&image->pixels);
}

}  // namespace

pthread_mutex_t &imageMutex() {
  pthread_once(&imageMutexMade, makeImageMutex);
  return theImageMutex;
}

Image *newImage(const uint8_t *rgba, int width, int height, const uint8_t *file,
                size_t fileSize) {
  auto *image = static_cast<Image *>(malloc(sizeof(Image)));
  if (image == nullptr) return nullptr;
  new (image) Image{};
  image->width = width;
  image->height = height;
  if (!keepPixels(rgba, width, height, file, fileSize, &image->pixels)) {
    free(image);
    return nullptr;
  }
  image->owners = 1;
  image->references = 1;
  return image;
}

void addOwner(Image *image) {
  MutexLock lock(imageMutex());
  ++image->owners;
  ++image->references;
}

bool dropOwner(Image *image) {
  MutexLock lock(imageMutex());
  const bool owned = --image->owners > 0;
  if (!owned) dropPixelsIfUnowned(image);
  dropReference(image);
  return owned;
}

void addReference(Image *image) {
  MutexLock lock(imageMutex());
  ++image->references;
}

void dropReference(Image *image) {
  MutexLock lock(imageMutex());
  if (--image->references > 0) return;
  dropPixels(&image->pixels);
  image->~Image();
  free(image);
}

const ImagePixels *pinPixels(Image *image, ImagePixels *decoded) {
  *decoded = ImagePixels{};
  {
    MutexLock lock(imageMutex());
    if (!hasPixels(image->pixels)) return nullptr;
    ++image->pins;
    if (image->pixels.file == nullptr) return &image->pixels;
  }
  // The pin keeps the file until unpinPixels.
  if (decodeKeptFile(image->pixels, decoded)) return decoded;
  unpinPixels(image, decoded);
  return nullptr;
}

void unpinPixels(Image *image, ImagePixels *decoded) {
  dropPixels(decoded);
  MutexLock lock(imageMutex());
  --image->pins;
  dropPixelsIfUnowned(image);
}

}  // namespace tkpixmap
