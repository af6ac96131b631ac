// keyed_array.cc - keyed arrays (Arr): string keys, pointer-sized values.
// An open-addressing hash table; keys are copied on insertion because
// callers reuse their key buffers.  keysarr sorts, so its order is the same
// whatever the insertion history.

#include <stdlib.h>  // qsort_r (glibc)
#include <string.h>

#include "baseutil.h"

struct Arr {
  ArrCompare compare;  // orders keys for keysarr; null means strcmp
  char **keys;         // null marks an empty slot (entries are never removed)
  void **values;
  size_t capacity;     // a power of two
  size_t count;
};

namespace {

constexpr size_t kInitialCapacity = 16;

size_t hashKey(const char *key) {
  // FNV-1a: short keys like "pixmap12" spread well and it needs no tables.
  size_t hash = static_cast<size_t>(14695981039346656037ull);
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(key); *p; ++p) {
    hash ^= *p;
    hash *= static_cast<size_t>(1099511628211ull);
  }
  return hash;
}

// Equality is always exact byte equality; the comparison routine only orders.
size_t findSlot(const Arr *array, const char *key) {
  size_t mask = array->capacity - 1;
  size_t slot = hashKey(key) & mask;
  while (array->keys[slot] != nullptr && strcmp(array->keys[slot], key) != 0) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

bool grow(Arr *array) {
  size_t capacity = array->capacity * 2;
  auto **keys = static_cast<char **>(calloc(capacity, sizeof(char *)));
  auto **values = static_cast<void **>(calloc(capacity, sizeof(void *)));
  if (keys == nullptr || values == nullptr) {
    free(keys);
    free(values);
    return false;
  }
  Arr bigger = *array;
  bigger.keys = keys;
  bigger.values = values;
  bigger.capacity = capacity;
  for (size_t i = 0; i < array->capacity; ++i) {
    if (array->keys[i] == nullptr) continue;
    size_t slot = findSlot(&bigger, array->keys[i]);
    keys[slot] = array->keys[i];
    values[slot] = array->values[i];
  }
  free(array->keys);
  free(array->values);
  *array = bigger;
  return true;
}

int compareKeys(const void *a, const void *b, void *context) {
  const char *left = *static_cast<char *const *>(a);
  const char *right = *static_cast<char *const *>(b);
  auto compare = reinterpret_cast<ArrCompare>(context);
  return compare != nullptr ? compare(left, right) : strcmp(left, right);
}

}  // namespace

extern "C" {

Arr *newarr(ArrCompare compare) {
  auto *array = static_cast<Arr *>(calloc(1, sizeof(Arr)));
  if (array == nullptr) return nullptr;
  array->compare = compare;
  array->capacity = kInitialCapacity;
  array->keys = static_cast<char **>(calloc(array->capacity, sizeof(char *)));
  array->values = static_cast<void **>(calloc(array->capacity, sizeof(void *)));
  if (array->keys == nullptr || array->values == nullptr) {
    free(array->keys);
    free(array->values);
    free(array);
    return nullptr;
  }
  return array;
}

void setarr(Arr *array, const char *key, void *value) {
  if (array == nullptr || key == nullptr) return;
  size_t slot = findSlot(array, key);
  if (array->keys[slot] != nullptr) {
    array->values[slot] = value;
    return;
  }
  // Keep the load at most 1/2 so probe runs stay short.
  if ((array->count + 1) * 2 > array->capacity) {
    if (!grow(array)) elog_die(0, "Out of memory growing a keyed array\n");
    slot = findSlot(array, key);
  }
  char *copy = strdup(key);
  if (copy == nullptr) elog_die(0, "Out of memory copying a key\n");
  array->keys[slot] = copy;
  array->values[slot] = value;
  ++array->count;
}

void *getarr(Arr *array, const char *key) {
  if (array == nullptr || key == nullptr) return nullptr;
  size_t slot = findSlot(array, key);
  return array->keys[slot] != nullptr ? array->values[slot] : nullptr;
}

Tbl *keysarr(Arr *array) {
  Tbl *keys = newtbl(array != nullptr ? static_cast<int>(array->count) : 0);
  if (keys == nullptr || array == nullptr) return keys;
  for (size_t i = 0; i < array->capacity; ++i) {
    if (array->keys[i] != nullptr) pushtbl(keys, array->keys[i]);
  }
  qsort_r(keys->entries, static_cast<size_t>(keys->count), sizeof(void *), compareKeys,
          reinterpret_cast<void *>(array->compare));
  return keys;
}

void freearr(Arr *array, void (*routine)(void *)) {
  if (array == nullptr) return;
  for (size_t i = 0; i < array->capacity; ++i) {
    if (array->keys[i] == nullptr) continue;
    if (routine != nullptr) routine(array->values[i]);
    free(array->keys[i]);
  }
  free(array->keys);
  free(array->values);
  free(array);
}

}  // extern "C"
