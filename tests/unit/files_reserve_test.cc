// files_reserve_test.cc - the reserve of spare streams on "/dev/null": which
// slots hold a stream after each call, seen through the process's open
// descriptors, alone and from several threads.

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "reserve_file.h"
#include "tests/support/files_descriptors.h"

namespace {

using tkpixmap::testing::descriptorTarget;
using tkpixmap::testing::openDescriptors;

// Descriptors of this process open on "/dev/null".
std::set<int> devNullDescriptors() {
  std::set<int> fds;
  for (int fd : openDescriptors())
    if (descriptorTarget(fd) == "/dev/null") fds.insert(fd);
  return fds;
}

std::set<int> minus(const std::set<int> &a, const std::set<int> &b) {
  std::set<int> result;
  for (int x : a)
    if (b.count(x) == 0) result.insert(x);
  return result;
}

// Empties every slot, whatever earlier tests in this process left.
void emptyReserve() {
  for (int i = 0; i < 8; ++i) release_FILE();
}

TEST(Reserve, ReleaseBeforeAnyReserveDoesNothing) {
  std::set<int> before = devNullDescriptors();
  release_FILE();
  EXPECT_EQ(devNullDescriptors(), before);
}

TEST(Reserve, SlotsAreReleasedLowestFirstAndRefilledExactly) {
  emptyReserve();
  const std::set<int> base = devNullDescriptors();

  reserve_FILE();
  std::set<int> reserved = minus(devNullDescriptors(), base);
  ASSERT_EQ(reserved.size(), 2u);
  const int slot0 = *reserved.begin();  // slot 0 is opened first: lowest number
  const int slot1 = *reserved.rbegin();
  for (int fd : reserved) EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);

  reserve_FILE();  // nothing more to fill
  EXPECT_EQ(minus(devNullDescriptors(), base), reserved);

  struct Step {
    void (*call)();
    std::set<int> expected;
  };
  const Step steps[] = {
      {release_FILE, {slot1}},        // slot 0 goes first
      {reserve_FILE, {slot0, slot1}},  // and only slot 0 is reopened
      {release_FILE, {slot1}},
      {release_FILE, {}},
      {release_FILE, {}},  // nothing left: no effect
      {reserve_FILE, {slot0, slot1}},
  };
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    steps[i].call();
    EXPECT_EQ(minus(devNullDescriptors(), base), steps[i].expected);
  }
  emptyReserve();
  EXPECT_EQ(devNullDescriptors(), base);
}

TEST(Reserve, ReleasedDescriptorIsTakenByTheCallersOwnStream) {
  emptyReserve();
  const std::set<int> base = devNullDescriptors();
  reserve_FILE();
  const int slot0 = *minus(devNullDescriptors(), base).begin();
  release_FILE();
  FILE *own = fopen("/dev/zero", "r");
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(fileno(own), slot0);
  fclose(own);
  reserve_FILE();
  EXPECT_EQ(minus(devNullDescriptors(), base).size(), 2u);
  emptyReserve();
}

TEST(ReserveThreads, ConcurrentReserveAndReleaseKeepTwoSlots) {
  emptyReserve();
  const std::set<int> base = devNullDescriptors();
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) {
        if ((i + t) % 3 == 0)
          release_FILE();
        else
          reserve_FILE();
      }
    });
  }
  for (auto &thread : threads) thread.join();
  // Whatever the interleaving, never more than the two slots are held.
  EXPECT_LE(minus(devNullDescriptors(), base).size(), 2u);
  reserve_FILE();
  EXPECT_EQ(minus(devNullDescriptors(), base).size(), 2u);
  emptyReserve();
  EXPECT_EQ(devNullDescriptors(), base);
}

}  // namespace
