// animation.h - the clock of animated images: one Tcl timer per thread
// steps every image whose next frame is due, on a 20 ms grid, so that
// images shown at the same rate change together and their widgets (a
// canvas full of them, say) redraw once per step rather than once per
// image.
#pragma once

namespace tkpixmap {

struct Player {
  // Advances the image to its next frame; returns the delay to the frame
  // after it in milliseconds, or a negative number to stop playing.
  double (*step)(Player *player);
  // Managed by the clock:
  double dueMs = 0;  // when step is next due, on the clock's timeline
  bool playing = false;
  Player *next = nullptr;
};

// The clock's timeline: monotonic milliseconds.
double clockNowMs();

// Starts stepping `player` after `delayMs` (in the calling thread, whose
// event loop runs the clock); stopPlaying or a negative step ends it.
void startPlaying(Player *player, double delayMs);
void stopPlaying(Player *player);

// The delay a frame is shown for: GIF delays below 20 ms (0 among them,
// which many files give with a meaning of "as fast as the viewer goes")
// play as 100 ms, as web browsers play them.
double frameDelayMs(int delayMs);

}  // namespace tkpixmap
