// The resource locker with real threads: writers wait for the readers inside, readers
// arriving behind a waiting writer wait for it, and data guarded by it is never seen torn;
// then the guard's modes and the refusals with their trace lines.
#include "common/shared_locker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/trace_capture.h"

using ascommon::auto_locker;
using ascommon::shared_locker;
using namespace std::chrono_literals;

namespace {

// Long enough for a thread that is not blocked to get through, short enough to keep the
// suite quick. Used only to show that a thread *stays* blocked.
void Settle() { std::this_thread::sleep_for(60ms); }

TEST(SharedLockerThreads, WriterWaitsForEveryReaderInsideAndReadersForTheWriter) {
  shared_locker locker;
  locker.LockReadOnly();
  locker.LockReadOnly();
  std::atomic<bool> writerIn{false};
  std::thread writer([&] {
    locker.LockExclusive();
    writerIn = true;
    locker.UnlockExclusive();
  });
  Settle();
  EXPECT_FALSE(writerIn) << "writer entered while two readers were inside";
  locker.UnlockReadOnly();
  Settle();
  EXPECT_FALSE(writerIn) << "writer entered while one reader was inside";
  locker.UnlockReadOnly();
  writer.join();
  EXPECT_EQ(locker.ReaderCount(), 0);

  locker.LockExclusive();
  std::atomic<bool> readerIn{false};
  std::thread reader([&] {
    auto_locker guard(&locker, auto_locker::kReadOnly, true);
    readerIn = true;
  });
  Settle();
  EXPECT_FALSE(readerIn) << "reader entered while the writer was inside";
  locker.UnlockExclusive();
  reader.join();
  EXPECT_TRUE(readerIn);
}

TEST(SharedLockerThreads, ReaderBehindWaitingWriterWaitsForIt) {
  shared_locker locker;
  std::atomic<int> clock{0}, writerOut{0}, lateReaderIn{0};
  locker.LockReadOnly();  // the reader already inside
  std::thread writer([&] {
    locker.LockExclusive();
    Settle();
    writerOut = ++clock;
    locker.UnlockExclusive();
  });
  Settle();  // the writer now waits for the first reader
  std::thread lateReader([&] {
    auto_locker guard(&locker, auto_locker::kReadOnly, true);
    lateReaderIn = ++clock;
  });
  Settle();
  EXPECT_EQ(lateReaderIn, 0) << "a reader overtook the waiting writer";
  locker.UnlockReadOnly();
  writer.join();
  lateReader.join();
  EXPECT_EQ(writerOut, 1);
  EXPECT_EQ(lateReaderIn, 2);
}

// Writers keep two fields equal; readers must never see them differ, and the final total
// must count every write. ThreadSanitizer also watches the plain fields here.
TEST(SharedLockerThreads, GuardedDataIsNeverTorn) {
  shared_locker locker;
  long first = 0;
  long second = 0;
  std::atomic<int> tornReads{0};
  constexpr int kWriters = 2;
  constexpr int kReaders = 4;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kWriters + kReaders; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        if (t < kWriters) {
          auto_locker guard(&locker, auto_locker::kExclusive, true);
          ++first;
          std::this_thread::yield();
          ++second;
        } else {
          auto_locker guard(&locker, auto_locker::kReadOnly, true);
          if (first != second) ++tornReads;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(tornReads, 0);
  EXPECT_EQ(first, kWriters * kRounds);
  EXPECT_EQ(locker.ReaderCount(), 0);
}

TEST(SharedLocker, GuardModesLazyLockingAndRelease) {
  shared_locker locker;
  {
    auto_locker lazy(&locker, auto_locker::kReadOnly, false);
    EXPECT_FALSE(lazy.is_locked());
    lazy.unlock();  // unlock without lock does nothing
    EXPECT_EQ(locker.ReaderCount(), 0);
    lazy.lock();
    lazy.lock();  // a second lock does not count twice
    EXPECT_EQ(locker.ReaderCount(), 1);
  }
  EXPECT_EQ(locker.ReaderCount(), 0);
  try {
    auto_locker guard(&locker, auto_locker::kExclusive, true);
    throw ASException(-3, "boom");
  } catch (const ASException&) {
  }
  {
    auto_locker unknown(&locker, 2, true);
    EXPECT_TRUE(unknown.is_locked());
    // An unknown mode holds nothing, and the exception above released the exclusive lock:
    // a writer from another thread gets in at once.
    std::thread([&] { auto_locker w(&locker, auto_locker::kExclusive, true); }).join();
  }
}

TEST(SharedLocker, NullLockerAndDeletionAreRefusedWithTraceLines) {
  zztest::TraceCapture trace;
  try {
    auto_locker guard(nullptr, auto_locker::kReadOnly, true);
    FAIL() << "no exception";
  } catch (const ASInternalException& e) {
    EXPECT_STREQ(e.what(), "ASInternalException - CODE: 0 MESSAGE: Null locker data in auto_locker!");
  }
  const std::string line = trace.Find("Null locker data");
  EXPECT_EQ(line.rfind("[VEVOZOVI EXCEPTION] shared_locker.cpp:", 0), 0u) << line;
  EXPECT_NE(line.find(" -ASInternalException - CODE: 0 MESSAGE: Null locker data in auto_locker!\n"),
            std::string::npos) << line;

  {
    shared_locker locker;
    locker.LockReadOnly();
    locker.BeginDeletion();
    EXPECT_THROW(locker.LockReadOnly(), ASInternalException);
    try {
      locker.LockExclusive();
      FAIL() << "no exception";
    } catch (const ASInternalException& e) {
      EXPECT_NE(std::string(e.what()).find("being deleted!"), std::string::npos);
    }
  }
  EXPECT_EQ(trace.Count("being deleted!"), 1) << "only the exclusive path traces";
  EXPECT_EQ(trace.Count("WARNING: Destroying the resource locker without releasing all the "
                        "Read Only Locks!"), 1) << "warned once, though deletion began twice";
  { shared_locker clean; }
  EXPECT_EQ(trace.Count("WARNING"), 1);
}

}  // namespace
