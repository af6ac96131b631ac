// list.cc - growable lists of pointer-sized entries (Tbl).

#include <stdlib.h>
#include <string.h>

#include "baseutil.h"

namespace {

constexpr intptr_t kMinCapacity = 8;

// Grows storage to hold at least `needed` entries plus a spare slot, which
// keeps addrtbl usable as a null-terminated vector after a push of null.
bool reserve(Tbl *list, intptr_t needed) {
  if (needed < list->capacity) return true;
  intptr_t capacity = list->capacity < kMinCapacity ? kMinCapacity : list->capacity;
  while (capacity <= needed) {
    if (capacity > INTPTR_MAX / 2 / static_cast<intptr_t>(sizeof(void *))) return false;
    capacity *= 2;
  }
  void *grown = realloc(list->entries, static_cast<size_t>(capacity) * sizeof(void *));
  if (grown == nullptr) return false;
  list->entries = static_cast<void **>(grown);
  memset(list->entries + list->capacity, 0,
         static_cast<size_t>(capacity - list->capacity) * sizeof(void *));
  list->capacity = capacity;
  return true;
}

}  // namespace

extern "C" {

Tbl *newtbl(int size) {
  auto *list = static_cast<Tbl *>(calloc(1, sizeof(Tbl)));
  if (list == nullptr) return nullptr;
  if (size > 0 && !reserve(list, size)) {
    free(list);
    return nullptr;
  }
  return list;
}

void *gettbl(Tbl *list, int i) {
  if (list == nullptr || i < 0 || i >= list->count) return nullptr;
  return list->entries[i];
}

int settbl(Tbl *list, int i, void *value) {
  if (list == nullptr || i < 0 || i > list->count) return -1;
  if (i == list->count) return pushtbl(list, value) < 0 ? -1 : 0;
  list->entries[i] = value;
  return 0;
}

int pushtbl(Tbl *list, void *value) {
  if (list == nullptr || !reserve(list, list->count + 1)) return -1;
  list->entries[list->count] = value;
  return static_cast<int>(list->count++);
}

void **addrtbl(Tbl *list, int i) {
  if (list == nullptr || i < 0 || i >= list->count) return nullptr;
  return &list->entries[i];
}

Tbl *split(char *string, int c) {
  Tbl *pieces = newtbl(0);
  if (pieces == nullptr || string == nullptr) return pieces;
  // Runs of the separator count as one, and leading or trailing separators
  // give no empty pieces: "  ls  -l " splits into "ls" and "-l".
  char *p = string;
  while (*p != '\0') {
    while (*p == c) *p++ = '\0';
    if (*p == '\0') break;
    if (pushtbl(pieces, p) < 0) {
      freetbl(pieces, nullptr);
      return nullptr;
    }
    while (*p != '\0' && *p != c) ++p;
  }
  return pieces;
}

void freetbl(Tbl *list, void (*routine)(void *)) {
  if (list == nullptr) return;
  if (routine != nullptr) {
    for (intptr_t i = 0; i < list->count; ++i) routine(list->entries[i]);
  }
  free(list->entries);
  free(list);
}

}  // extern "C"
