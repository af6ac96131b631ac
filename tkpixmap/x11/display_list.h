// display_list.h - the process-wide lists of per-display state (the shared
// segments, the build traps) are singly linked through `next` and searched
// by `display`, the one way written here.
#pragma once

#include <X11/Xlib.h>

namespace tkpixmap {

// The link that holds display's entry in the list starting at *head, or
// the null link at its end when the display has none (where a new entry
// goes).  The caller holds the list's lock.
template <typename Entry>
Entry **findEntry(Entry **head, const Display *display) {
  Entry **link = head;
  while (*link != nullptr && (*link)->display != display) link = &(*link)->next;
  return link;
}

}  // namespace tkpixmap
