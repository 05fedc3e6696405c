// CSquidHelper: the protocol core of "zazozor squid". The caller feeds it the bytes Squid
// writes; it cuts them into lines (squid_protocol.h), answers malformed ones with BH itself
// and hands the others to a pool of worker threads, which decide them with the caller's
// function. Answers go to the caller's sink one whole line per call, never interleaved:
// in the channel form as soon as each is ready (a slow request holds up no other), in the
// plain form in the order of the requests (a finished answer waits for the ones before it).
//
// At most maxInFlight requests are read ahead of their answers; Feed blocks beyond that.
// Threads: Feed and Finish belong to one thread (the reader); decide runs on the workers,
// each with its own worker index (0 to workers-1), so per-worker state needs no lock; the
// sink is called under the helper's output lock. The functions are the caller's and must
// outlive the helper. Tested by tests/host/squid_helper_test.cpp.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "squid_protocol.h"

namespace zzhost {

struct SquidHelperOptions {
  SquidMode mode = SquidMode::kAcl;
  std::optional<bool> channels;  // empty: the first non-empty line decides
  unsigned workers = 1;          // 1 or more
  std::size_t maxInFlight = 4096;
};

// Returns the whole answer line for a well-formed request (channel prefix and newline
// included). An exception becomes a BH answer with its text.
using SquidDecideFn = std::function<std::string(const SquidRequest& request, unsigned worker)>;
// Writes one answer line.
using SquidSinkFn = std::function<void(std::string_view line)>;

class CSquidHelper {
 public:
  CSquidHelper(const SquidHelperOptions& options, SquidDecideFn decide, SquidSinkFn sink);
  ~CSquidHelper();  // Finish()
  CSquidHelper(const CSquidHelper&) = delete;
  CSquidHelper& operator=(const CSquidHelper&) = delete;

  // Takes the next bytes of input.
  void Feed(std::string_view bytes);
  // End of input: a last line without newline is taken as a line, every answer is written,
  // the workers stop. Idempotent.
  void Finish();
  // Whether the input uses channel IDs (empty while no line decided it).
  std::optional<bool> Channels() const { return m_options.channels; }

 private:
  struct Job {
    std::uint64_t seq;
    SquidRequest request;
  };
  void TakeLine(std::string_view line);
  void WorkerLoop(unsigned worker);
  // Writes the answer, or keeps it until its turn (plain form); returns how many answers
  // went out (they are no longer in flight).
  std::size_t Output(std::uint64_t seq, std::string answer);

  SquidHelperOptions m_options;
  SquidDecideFn m_decide;
  SquidSinkFn m_sink;
  std::string m_partial;      // the line being read, cut at kMaxSquidLine + 1 bytes
  std::uint64_t m_nextSeq = 0;  // reader thread only

  std::mutex m_mutex;  // guards the queue, m_inFlight and m_stop
  std::condition_variable m_work;   // a job arrived or stop
  std::condition_variable m_space;  // m_inFlight went down
  std::deque<Job> m_queue;
  std::size_t m_inFlight = 0;  // read and not yet written
  bool m_stop = false;

  std::mutex m_outMutex;  // guards the sink and the reorder buffer
  std::map<std::uint64_t, std::string> m_waiting;  // plain form: answers ahead of their turn
  std::uint64_t m_nextOut = 0;

  std::vector<std::thread> m_workers;
  bool m_finished = false;
};

}  // namespace zzhost
