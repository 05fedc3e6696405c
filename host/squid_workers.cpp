// The Squid helper's reader, worker pool and answer ordering (squid_workers.h). One mutex
// guards the job queue, another the output; in the plain form a map keyed by request number
// holds answers that finished before an earlier one, bounded by maxInFlight.
// Tested by tests/host/squid_helper_test.cpp.
#include "squid_workers.h"

#include <exception>

namespace zzhost {

CSquidHelper::CSquidHelper(const SquidHelperOptions& options, SquidDecideFn decide,
                           SquidSinkFn sink)
    : m_options(options), m_decide(std::move(decide)), m_sink(std::move(sink)) {
  if (m_options.workers == 0) m_options.workers = 1;
  if (m_options.maxInFlight == 0) m_options.maxInFlight = 1;
  for (unsigned w = 0; w < m_options.workers; ++w) m_workers.emplace_back(&CSquidHelper::WorkerLoop, this, w);
}

CSquidHelper::~CSquidHelper() { Finish(); }

void CSquidHelper::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (m_partial.size() <= kMaxSquidLine) {  // keep one byte more than a line may have
      m_partial.append(piece.substr(0, kMaxSquidLine + 1 - m_partial.size()));
    }
    if (end == std::string_view::npos) return;
    TakeLine(m_partial);
    m_partial.clear();
    bytes.remove_prefix(end + 1);
  }
}

void CSquidHelper::Finish() {
  if (m_finished) return;
  m_finished = true;
  if (!m_partial.empty()) {
    TakeLine(m_partial);
    m_partial.clear();
  }
  {
    std::unique_lock lock(m_mutex);
    m_space.wait(lock, [&] { return m_inFlight == 0; });
    m_stop = true;
  }
  m_work.notify_all();
  for (std::thread& worker : m_workers) worker.join();
}

void CSquidHelper::TakeLine(std::string_view line) {
  if (!m_options.channels) {
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) {
      // Nothing to tell the forms apart by: a plain-form answer keeps Squid in step.
      Output(m_nextSeq++, FormatBrokenAnswer("", "empty line"));
      return;
    }
    m_options.channels = StartsWithChannel(line);
  }
  SquidRequest request = ParseSquidLine(line, *m_options.channels, m_options.mode);
  if (!request.answer) return;  // no channel ID: no answer can reach Squid
  const std::uint64_t seq = m_nextSeq++;
  std::unique_lock lock(m_mutex);
  m_space.wait(lock, [&] { return m_inFlight < m_options.maxInFlight; });
  ++m_inFlight;
  if (!request.error.empty()) {
    lock.unlock();
    const std::size_t written = Output(seq, FormatBrokenAnswer(request.channel, request.error));
    lock.lock();
    m_inFlight -= written;
    return;
  }
  m_queue.push_back({seq, std::move(request)});
  lock.unlock();
  m_work.notify_one();
}

void CSquidHelper::WorkerLoop(unsigned worker) {
  for (;;) {
    std::unique_lock lock(m_mutex);
    m_work.wait(lock, [&] { return m_stop || !m_queue.empty(); });
    if (m_queue.empty()) return;
    Job job = std::move(m_queue.front());
    m_queue.pop_front();
    lock.unlock();
    std::string answer;
    try {
      answer = m_decide(job.request, worker);
    } catch (const std::exception& error) {
      answer = FormatBrokenAnswer(job.request.channel, error.what());
    } catch (...) {
      answer = FormatBrokenAnswer(job.request.channel, "unknown error");
    }
    const std::size_t written = Output(job.seq, std::move(answer));
    lock.lock();
    m_inFlight -= written;
    lock.unlock();
    m_space.notify_all();
  }
}

std::size_t CSquidHelper::Output(std::uint64_t seq, std::string answer) {
  std::lock_guard lock(m_outMutex);
  if (m_options.channels.value_or(false)) {
    m_sink(answer);
    return 1;
  }
  if (seq != m_nextOut) {
    m_waiting.emplace(seq, std::move(answer));
    return 0;
  }
  m_sink(answer);
  ++m_nextOut;
  std::size_t written = 1;
  for (auto it = m_waiting.begin(); it != m_waiting.end() && it->first == m_nextOut;
       it = m_waiting.erase(it)) {
    m_sink(it->second);
    ++m_nextOut;
    ++written;
  }
  return written;
}

}  // namespace zzhost
