#!/usr/bin/env bash
# Load on "zazozor squid --mode acl" the way Squid drives a helper with concurrency: request
# lines with channel IDs, at most WINDOW of them unanswered (squid.conf concurrency=WINDOW),
# with 1, 2 and 8 worker threads; squidGuard (no concurrency: one request at a time) next
# to it on the same black and white lists and the same stream.
#
#   bench/squid_helper_load.sh BUILD_BIN WORKLOAD_DIR [WORK_DIR]
#
# WORKLOAD_DIR holds black.txt, white.txt and urls.txt (the shared URL workload generator's
# output). Environment: WINDOW (default 64), LATENCY_LINES (lines of the one-at-a-time runs,
# default 100000). Prints per run the answers per second (wall clock, whole stream) and the
# latency percentiles from writing a request to reading its answer; the driver is a small C++
# program compiled into WORK_DIR. Needs c++, squidguard and the lists built as
# bench/urls_vs_squidguard.sh builds them (done here).
set -euo pipefail
bin=$(cd "$1" && pwd)
workload=$(cd "$2" && pwd)
work=${3:-$(mktemp -d /tmp/zz-squidload.XXXXXX)}
window=${WINDOW:-64}
latency_lines=${LATENCY_LINES:-100000}
mkdir -p "$work/zz"
urls="$workload/urls.txt"

# --- the driver ------------------------------------------------------------------------------
cat > "$work/driver.cpp" <<'CPP'
// driver WINDOW LINES CHANNELS(0|1) URLS COMMAND...: feeds COMMAND the first LINES lines of
// URLS (all when 0), keeping at most WINDOW unanswered, with channel IDs when CHANNELS is 1;
// prints "answers N blocked B seconds S per_second R p50_us P p99_us Q max_us M" (the
// first request, answered once the helper has loaded, is left out of the timing).
#include <spawn.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
using Clock = std::chrono::steady_clock;
int main(int argc, char** argv) {
  if (argc < 6) return 2;
  const long window = std::atol(argv[1]);
  long limit = std::atol(argv[2]);
  const bool channels = argv[3][0] == '1';
  std::vector<std::string> lines;
  std::ifstream in(argv[4]);
  for (std::string line; (limit == 0 || long(lines.size()) < limit) && std::getline(in, line);)
    lines.push_back(line);
  int to[2], from[2];
  if (pipe(to) || pipe(from)) return 1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, to[0], 0);
  posix_spawn_file_actions_adddup2(&fa, from[1], 1);
  posix_spawn_file_actions_addclose(&fa, to[1]);
  posix_spawn_file_actions_addclose(&fa, from[0]);
  pid_t pid;
  if (posix_spawnp(&pid, argv[5], &fa, nullptr, argv + 5, environ) != 0) return 1;
  close(to[0]);
  close(from[1]);
  const std::size_t n = lines.size();
  std::vector<Clock::time_point> sent(n);
  std::vector<double> latency(n);
  std::mutex m;
  std::condition_variable cv;
  std::size_t answered = 0, blocked = 0;
  std::thread reader([&] {
    std::FILE* f = fdopen(from[0], "r");
    static char buf[1 << 20];
    std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
    std::size_t next = 0;
    while (std::fgets(buf, sizeof buf, f)) {
      const auto now = Clock::now();
      const std::size_t id = channels ? std::strtoul(buf, nullptr, 10) : next++;
      if (id >= n) continue;
      const char* result = channels ? std::strchr(buf, ' ') + 1 : buf;
      std::lock_guard lock(m);
      latency[id] = std::chrono::duration<double, std::micro>(now - sent[id]).count();
      blocked += std::strncmp(result, "OK", 2) == 0;
      ++answered;
      cv.notify_one();
    }
  });
  // The first request alone, untimed: its answer waits for the helper to load its lists.
  std::string batch = (channels ? "0 " : "") + lines[0] + "\n";
  if (write(to[1], batch.data(), batch.size()) != ssize_t(batch.size())) return 1;
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return answered == 1; });
  }
  const auto start = Clock::now();
  for (std::size_t i = 1; i < n;) {
    std::size_t can;
    {
      std::unique_lock lock(m);
      cv.wait(lock, [&] { return long(i - answered) < window; });
      can = std::min(n, answered + window);
    }
    batch.clear();
    const auto now = Clock::now();
    for (; i < can; ++i) {
      sent[i] = now;
      if (channels) batch += std::to_string(i) + " ";
      batch += lines[i];
      batch += '\n';
    }
    for (std::size_t off = 0; off < batch.size();) {
      const ssize_t w = write(to[1], batch.data() + off, batch.size() - off);
      if (w <= 0) return 1;
      off += w;
    }
  }
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return answered == n; });
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  close(to[1]);
  reader.join();
  latency.erase(latency.begin());
  std::sort(latency.begin(), latency.end());
  const std::size_t timed = n - 1;
  auto pct = [&](double p) { return latency[std::min(timed - 1, std::size_t(p * timed))]; };
  std::printf("answers %zu blocked %zu seconds %.2f per_second %.0f p50_us %.1f p99_us %.1f max_us %.0f\n",
              n, blocked, seconds, timed / seconds, pct(0.5), pct(0.99), latency[timed - 1]);
  return 0;
}
CPP
c++ -O2 -std=c++20 -pthread -o "$work/driver" "$work/driver.cpp"

# --- lists ---------------------------------------------------------------------------------
cat > "$work/zz/settings.conf" <<CONF
/http/global/SharedDataPath = .
/http/global/GlobalTempPath = .
/http/global/AllParentalFiltersEnabled = 0
/http/filter/parentalbwlist/Enabled = 1
CONF
export ZAZOZOR_TRACE_LEVEL=off
"$bin/zazozor" lists build "$workload/white.txt" "$work/zz/prlwht.cas" >/dev/null
"$bin/zazozor" lists build "$workload/black.txt" "$work/zz/prlblk.cas" >/dev/null
# shellcheck source=bench/squidguard.sh
source "$(dirname "$0")/squidguard.sh"
squidguard_setup "$workload" "$work"
squidGuard -c "$work/sg/squidGuard.conf" -C all

# --- runs ----------------------------------------------------------------------------------
echo "stream: $(wc -l < "$urls") lines; window $window for channel runs, $latency_lines lines one at a time"
zz=("$bin/zazozor" --config "$work/zz/settings.conf" squid --mode acl)
for workers in 1 2 8; do
  echo "zazozor squid, channel IDs, $workers workers, window $window: $("$work/driver" "$window" 0 1 "$urls" "${zz[@]}" --workers "$workers")"
done
echo "zazozor squid, no IDs, 1 worker, one at a time: $("$work/driver" 1 "$latency_lines" 0 "$urls" "${zz[@]}" --workers 1 --concurrency off)"
echo "squidGuard, one at a time: $("$work/driver" 1 "$latency_lines" 0 "$urls" squidGuard -c "$work/sg/squidGuard.conf")"
start=$(date +%s.%N)
squidGuard -c "$work/sg/squidGuard.conf" < "$urls" > "$work/sg/out.txt"
echo "squidGuard, whole stream piped (no waiting for answers): $(awk -v s="$start" -v e="$(date +%s.%N)" -v n="$(wc -l < "$urls")" 'BEGIN { printf "%.2f s, %.0f answers/s", e - s, n / (e - s) }')"
echo "work folder: $work"
