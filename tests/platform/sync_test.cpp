// Win32-style locks and events with real threads.
#include "zzplat/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Each Set releases one of three waiters and the event resets itself; a Set without a waiter
// is kept, once, for the next wait.
TEST(AutoResetEventTest, EachSetReleasesOneWaiterAndResetsItself) {
  zzplat::AutoResetEvent event(false);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      event.Wait();
      ++woken;
    });
  }
  for (int released = 0; released < 3; ++released) {
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(woken.load(), released) << "one Set released more than one waiter";
    event.Set();
    for (int i = 0; i < 2000 && woken.load() <= released; ++i) std::this_thread::sleep_for(1ms);
  }
  for (std::thread& t : waiters) t.join();
  EXPECT_FALSE(event.WaitFor(0)) << "the event must reset itself";
  event.Set();
  event.Set();  // signals do not accumulate
  EXPECT_TRUE(event.WaitFor(0) && !event.WaitFor(0) && zzplat::AutoResetEvent(true).WaitFor(0));
}

// The owner may enter again; other threads are kept out until its last Leave.
TEST(CriticalSectionTest, RecursiveForItsOwnerExclusiveForOthers) {
  zzplat::CriticalSection section;
  const auto otherGetsIn = [&] {
    bool in = false;
    std::thread([&] {
      in = section.TryEnter();
      if (in) section.Leave();
    }).join();
    return in;
  };
  section.Enter();
  ASSERT_TRUE(section.TryEnter());
  section.Leave();
  EXPECT_FALSE(otherGetsIn()) << "still held once";
  section.Leave();
  EXPECT_TRUE(otherGetsIn());
}

}  // namespace
