// animation.cc - one timer per thread for every animated image there.

#include "tkpixmap/animation.h"

#include <time.h>

#include <tcl.h>

namespace tkpixmap {
namespace {

// Steps fall on this grid: a late step of up to this much is what lets
// images of one rate share it.
constexpr double kGridMs = 20;

// Per thread (Tcl's thread data): the images playing there and the timer.
struct Clock {
  Player *playing;
  Tcl_TimerToken timer;
  double timerDueMs;
};
Tcl_ThreadDataKey clockKey;

Clock &threadClock() { return *static_cast<Clock *>(Tcl_GetThreadData(&clockKey, sizeof(Clock))); }

void fire(ClientData);

// (Re)sets the timer for the earliest step due, rounded up to the grid.
void schedule(Clock &c) {
  double earliest = -1;
  for (Player *p = c.playing; p != nullptr; p = p->next)
    if (earliest < 0 || p->dueMs < earliest) earliest = p->dueMs;
  if (earliest < 0) {
    if (c.timer != nullptr) Tcl_DeleteTimerHandler(c.timer);
    c.timer = nullptr;
    return;
  }
  const double fireAt =
      static_cast<double>(static_cast<long long>((earliest + kGridMs - 1) / kGridMs)) * kGridMs;
  if (c.timer != nullptr && c.timerDueMs == fireAt) return;
  if (c.timer != nullptr) Tcl_DeleteTimerHandler(c.timer);
  const double wait = fireAt - clockNowMs();
  c.timer = Tcl_CreateTimerHandler(wait > 0 ? static_cast<int>(wait + 0.5) : 0, fire, nullptr);
  c.timerDueMs = fireAt;
}

void fire(ClientData) {
  Clock &c = threadClock();
  c.timer = nullptr;
  // Every step due by the middle of this grid cell, each player once.  A
  // step changes no player but its own (it only tells widgets to redraw
  // later), so the next link can be taken before it.
  const double now = clockNowMs();
  for (Player *p = c.playing, *next; p != nullptr; p = next) {
    next = p->next;
    if (p->dueMs > now + kGridMs / 2) continue;
    const double delay = p->step(p);
    if (delay < 0) {
      stopPlaying(p);
      continue;
    }
    // On the ideal timeline, so that the rate holds on average; a player
    // far behind (a busy thread) starts afresh from now.
    p->dueMs += delay;
    if (p->dueMs < now - 1000) p->dueMs = now + delay;
  }
  schedule(c);
}

}  // namespace

double clockNowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

double frameDelayMs(int delayMs) { return delayMs < 20 ? 100.0 : static_cast<double>(delayMs); }

void startPlaying(Player *player, double delayMs) {
  Clock &c = threadClock();
  if (!player->playing) {
    player->next = c.playing;
    c.playing = player;
    player->playing = true;
  }
  player->dueMs = clockNowMs() + delayMs;
  schedule(c);
}

void stopPlaying(Player *player) {
  if (!player->playing) return;
  Clock &c = threadClock();
  for (Player **link = &c.playing; *link != nullptr; link = &(*link)->next) {
    if (*link == player) {
      *link = player->next;
      break;
    }
  }
  player->playing = false;
  player->next = nullptr;
  schedule(c);
}

}  // namespace tkpixmap
