// The resource locker with real threads: writers wait for the readers inside, readers
// arriving behind a waiting writer wait for it, and data guarded by it is never seen torn.
#include "common/shared_locker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
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
constexpr auto kSettle = 60ms;

// Records the order in which threads pass named points.
class Journal {
 public:
  void Note(const std::string& event) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_events.push_back(event);
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_events;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_events;
};

TEST(SharedLockerThreads, ExclusiveWithoutReadersReturnsAtOnce) {
  shared_locker locker;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    locker.LockExclusive();
    done = true;
    locker.UnlockExclusive();
  });
  writer.join();
  EXPECT_TRUE(done);
}

TEST(SharedLockerThreads, WriterWaitsForEveryReaderInside) {
  shared_locker locker;
  locker.LockReadOnly();
  locker.LockReadOnly();
  std::atomic<bool> writerIn{false};
  std::thread writer([&] {
    locker.LockExclusive();
    writerIn = true;
    locker.UnlockExclusive();
  });
  std::this_thread::sleep_for(kSettle);
  EXPECT_FALSE(writerIn) << "writer entered while two readers were inside";
  locker.UnlockReadOnly();
  std::this_thread::sleep_for(kSettle);
  EXPECT_FALSE(writerIn) << "writer entered while one reader was inside";
  locker.UnlockReadOnly();
  writer.join();
  EXPECT_TRUE(writerIn);
  EXPECT_EQ(locker.ReaderCount(), 0);
}

TEST(SharedLockerThreads, ReaderBehindWaitingWriterWaitsForIt) {
  shared_locker locker;
  Journal journal;
  locker.LockReadOnly();  // the reader already inside
  std::thread writer([&] {
    locker.LockExclusive();
    journal.Note("writer in");
    std::this_thread::sleep_for(kSettle);
    journal.Note("writer out");
    locker.UnlockExclusive();
  });
  std::this_thread::sleep_for(kSettle);  // the writer now waits for the first reader
  std::atomic<bool> lateReaderIn{false};
  std::thread lateReader([&] {
    locker.LockReadOnly();
    lateReaderIn = true;
    journal.Note("late reader in");
    locker.UnlockReadOnly();
  });
  std::this_thread::sleep_for(kSettle);
  EXPECT_FALSE(lateReaderIn) << "a reader overtook the waiting writer";
  locker.UnlockReadOnly();
  writer.join();
  lateReader.join();
  EXPECT_EQ(journal.Events(),
            (std::vector<std::string>{"writer in", "writer out", "late reader in"}));
}

TEST(SharedLockerThreads, ReaderWaitsWhileWriterInside) {
  shared_locker locker;
  locker.LockExclusive();
  std::atomic<bool> readerIn{false};
  std::thread reader([&] {
    auto_locker guard(&locker, auto_locker::kReadOnly, true);
    readerIn = true;
  });
  std::this_thread::sleep_for(kSettle);
  EXPECT_FALSE(readerIn);
  locker.UnlockExclusive();
  reader.join();
  EXPECT_TRUE(readerIn);
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
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        auto_locker guard(&locker, auto_locker::kExclusive, true);
        ++first;
        std::this_thread::yield();
        ++second;
      }
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        auto_locker guard(&locker, auto_locker::kReadOnly, true);
        if (first != second) ++tornReads;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(tornReads, 0);
  EXPECT_EQ(first, kWriters * kRounds);
  EXPECT_EQ(locker.ReaderCount(), 0);
}

TEST(SharedLocker, GuardReleasesOnException) {
  shared_locker locker;
  try {
    auto_locker guard(&locker, auto_locker::kExclusive, true);
    throw ASException(-3, "boom");
  } catch (const ASException&) {
  }
  // Would block forever if the exclusive lock had not been released.
  std::thread other([&] { auto_locker guard(&locker, auto_locker::kExclusive, true); });
  other.join();
}

TEST(SharedLocker, GuardModesAndLazyLocking) {
  shared_locker locker;
  {
    auto_locker lazy(&locker, auto_locker::kReadOnly, false);
    EXPECT_FALSE(lazy.is_locked());
    EXPECT_EQ(locker.ReaderCount(), 0);
    lazy.unlock();  // unlock without lock does nothing
    EXPECT_EQ(locker.ReaderCount(), 0);
    lazy.lock();
    lazy.lock();  // a second lock does not count twice
    EXPECT_EQ(locker.ReaderCount(), 1);
  }
  EXPECT_EQ(locker.ReaderCount(), 0);
  {
    auto_locker unknown(&locker, 2, true);
    EXPECT_TRUE(unknown.is_locked());
    EXPECT_EQ(locker.ReaderCount(), 0);
    // An unknown mode holds nothing: a writer from another thread gets in at once.
    std::thread writer([&] { auto_locker w(&locker, auto_locker::kExclusive, true); });
    writer.join();
  }
}

TEST(SharedLocker, NullLockerIsRefusedWithTraceLine) {
  zztest::TraceCapture trace;
  try {
    auto_locker guard(nullptr, auto_locker::kReadOnly, true);
    FAIL() << "no exception";
  } catch (const ASInternalException& e) {
    EXPECT_STREQ(e.what(),
                 "ASInternalException - CODE: 0 MESSAGE: Null locker data in auto_locker!");
    EXPECT_EQ(e.GetCode(), 0);
  }
  std::string line = trace.Find("Null locker data");
  EXPECT_EQ(line.rfind("[VEVOZOVI EXCEPTION] shared_locker.cpp:", 0), 0u) << line;
  EXPECT_NE(line.find(" -ASInternalException - CODE: 0 MESSAGE: Null locker data in "
                      "auto_locker!\n"),
            std::string::npos)
      << line;
}

TEST(SharedLocker, LockingAfterDeletionBeganRaises) {
  zztest::TraceCapture trace;
  shared_locker locker;
  locker.BeginDeletion();
  EXPECT_THROW(locker.LockReadOnly(), ASInternalException);
  try {
    locker.LockExclusive();
    FAIL() << "no exception";
  } catch (const ASInternalException& e) {
    EXPECT_EQ(e.GetCode(), 0);
    EXPECT_NE(std::string(e.what()).find("being deleted!"), std::string::npos);
  }
  // Only the exclusive path writes a trace line.
  EXPECT_EQ(trace.Count("being deleted!"), 1);
}

TEST(SharedLocker, DestroyingWithReadersWarnsOnce) {
  zztest::TraceCapture trace;
  {
    shared_locker locker;
    locker.LockReadOnly();
    locker.BeginDeletion();
  }
  EXPECT_EQ(trace.Count("WARNING: Destroying the resource locker without releasing all the "
                        "Read Only Locks!"),
            1);
  {
    shared_locker clean;
  }
  EXPECT_EQ(trace.Count("WARNING"), 1);
}

}  // namespace
