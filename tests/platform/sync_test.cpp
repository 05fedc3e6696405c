// Win32-style locks and events with real threads.
#include "zzplat/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zzplat::AutoResetEvent;
using zzplat::CriticalSection;

// Polls until the counter reaches the value or two seconds pass.
bool WaitForCount(const std::atomic<int>& counter, int value) {
  for (int i = 0; i < 2000 && counter.load() < value; ++i) std::this_thread::sleep_for(1ms);
  return counter.load() >= value;
}

TEST(AutoResetEventTest, EachSetReleasesOneWaiter) {
  AutoResetEvent event(false);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      event.Wait();
      ++woken;
    });
  }
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(woken.load(), 0);
  for (int expected = 1; expected <= 3; ++expected) {
    event.Set();
    ASSERT_TRUE(WaitForCount(woken, expected));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(woken.load(), expected) << "one Set released more than one waiter";
  }
  for (std::thread& t : waiters) t.join();
  EXPECT_FALSE(event.WaitFor(0)) << "the event must reset itself";
}

TEST(AutoResetEventTest, SignalIsKeptForOneWaitAndWaitForTimesOut) {
  AutoResetEvent event(false);
  event.Set();
  event.Set();  // signals do not accumulate
  EXPECT_TRUE(event.WaitFor(0));
  EXPECT_FALSE(event.WaitFor(0));
  AutoResetEvent initially(true);
  initially.Wait();
  EXPECT_FALSE(initially.WaitFor(0));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.WaitFor(50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    event.Set();
  });
  EXPECT_TRUE(event.WaitFor(5000)) << "a Set during the wait releases it";
  setter.join();
}

TEST(CriticalSectionTest, OwnerMayEnterAgainOthersMayNot) {
  CriticalSection section;
  section.Enter();
  ASSERT_TRUE(section.TryEnter());  // recursion on the owning thread
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = section.TryEnter(); }).join();
  EXPECT_FALSE(otherGotIt);
  section.Leave();
  std::thread([&] { otherGotIt = section.TryEnter(); }).join();
  EXPECT_FALSE(otherGotIt) << "still held once";
  section.Leave();
  std::thread([&] {
    otherGotIt = section.TryEnter();
    if (otherGotIt) section.Leave();
  }).join();
  EXPECT_TRUE(otherGotIt);
}

TEST(CriticalSectionTest, MutualExclusion) {
  CriticalSection section;
  long counter = 0;  // deliberately not atomic
  constexpr int kThreads = 4;
  constexpr int kRounds = 100000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        section.Enter();
        section.Enter();
        long value = counter;
        counter = value + 1;
        section.Leave();
        section.Leave();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
}

}  // namespace
