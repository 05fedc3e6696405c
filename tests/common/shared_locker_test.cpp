// The resource locker with real threads: a writer waits for the readers inside, readers
// arriving behind a waiting writer wait for it, and data guarded by it is never seen torn.
#include "common/shared_locker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>


using ascommon::auto_locker;
using ascommon::shared_locker;

namespace {

// Long enough for a thread that is not blocked to get through, short enough to keep the
// suite quick. Used only to show that a thread *stays* blocked.
void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(60)); }

TEST(SharedLockerThreads, WriterWaitsForReadersInsideAndReadersBehindItWaitForIt) {
  shared_locker locker;
  std::atomic<int> clock{0}, writerIn{0}, writerOut{0}, lateReaderIn{0};
  locker.LockReadOnly();
  locker.LockReadOnly();
  std::thread writer([&] {
    locker.LockExclusive();
    writerIn = ++clock;
    Settle();
    writerOut = ++clock;
    locker.UnlockExclusive();
  });
  Settle();  // the writer now waits for the two readers
  std::thread lateReader([&] {
    auto_locker guard(&locker, auto_locker::kReadOnly, true);
    lateReaderIn = ++clock;
  });
  Settle();
  EXPECT_EQ(writerIn, 0) << "writer entered while two readers were inside";
  EXPECT_EQ(lateReaderIn, 0) << "a reader overtook the waiting writer";
  locker.UnlockReadOnly();
  Settle();
  EXPECT_EQ(writerIn, 0) << "writer entered while one reader was inside";
  locker.UnlockReadOnly();
  writer.join();
  lateReader.join();
  EXPECT_EQ(writerIn, 1);
  EXPECT_EQ(writerOut, 2);
  EXPECT_EQ(lateReaderIn, 3) << "a reader entered while the writer was inside";
  EXPECT_EQ(locker.ReaderCount(), 0);
}

// Writers keep two fields equal; readers must never see them differ, and the final total
// must count every write. ThreadSanitizer also watches the plain fields here.
TEST(SharedLockerThreads, GuardedDataIsNeverTorn) {
  shared_locker locker;
  long first = 0, second = 0;
  std::atomic<int> tornReads{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        auto_locker guard(&locker, t < 2 ? auto_locker::kExclusive : auto_locker::kReadOnly, true);
        if (t >= 2) {
          tornReads += first != second;
          continue;
        }
        ++first;
        std::this_thread::yield();
        ++second;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(tornReads, 0);
  EXPECT_EQ(first, 2 * 2000);
  EXPECT_EQ(locker.ReaderCount(), 0);
}

}  // namespace
