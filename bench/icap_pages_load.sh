#!/usr/bin/env bash
# Pages per second through Squid with the zazozor ICAP content service (c-icap) and through
# the same Squid without it: CLIENTS curl processes, each keeping one connection to the
# proxy, fetch REQUESTS pages in all, cycling over the HTML sample pages (data/pages/*.html,
# served by a local origin; the poker page comes back as the block page). Squid caches
# nothing, so every page crosses the origin (and the service, on the adapted port). Three
# rounds of both, alternating; each line also gives the CPU time Squid and c-icap (all its
# processes) used per page, which a busy machine disturbs less than the wall time.
# Usage: bench/icap_pages_load.sh BIN_DIR [REQUESTS (4000)] [CLIENTS (8)]
set -u
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
source "$source_dir/tests/proxy/lib.sh"
bin=$(cd "${1:?usage: icap_pages_load.sh BIN_DIR [REQUESTS] [CLIENTS]}" && pwd)
requests=${2:-4000}
clients=${3:-8}
for program in squid c-icap curl python3; do
  command -v "$program" >/dev/null || zz_skip "$program is not installed"
done
[[ -f $bin/srv_zazozor.so ]] || zz_skip "srv_zazozor.so was not built"

zz_scratch
origin_port=$(zz_free_port)
icap_port=$(zz_free_port)
adapted_port=$(zz_free_port)
plain_port=$(zz_free_port)
mkdir -p "$ZZ_SCRATCH/www"
cp "$source_dir"/data/pages/*.html "$ZZ_SCRATCH/www/"
chmod -R a+rX "$ZZ_SCRATCH/www"
zz_start_origin "$ZZ_SCRATCH/www" "$origin_port" || exit 1

zz_start_icap "$icap_port" "$bin" "AccessLog /dev/null
MaxServers 2
ThreadsPerChild $((clients * 2))
DebugLevel 0
zazozor.BlockPage $source_dir/data/blockpage.html" || exit 1
icap_pid=$ZZ_ICAP_PID

echo "127.0.0.1 pages.test" > "$ZZ_SCRATCH/hosts"
zz_start_squid "$adapted_port" "http_port 127.0.0.1:$plain_port
acl plain localport $plain_port
icap_enable on
icap_preview_enable on
icap_service zz_content respmod_precache icap://127.0.0.1:$icap_port/zazozor bypass=off
adaptation_access zz_content deny plain
adaptation_access zz_content allow all" || exit 1
sed -i 's/^access_log .*/access_log none/' "$ZZ_SQUID_CONF"
squid -f "$ZZ_SQUID_CONF" -k reconfigure && sleep 2

pages=()
for page in "$ZZ_SCRATCH"/www/*.html; do pages+=("http://pages.test:$origin_port/$(basename "$page")"); done

# CPU seconds (user + system) used so far by the processes named ARGS and their children.
cpu_of() {
  local pid pids=("$@") ticks=0
  for pid in "$@"; do pids+=($(pgrep -P "$pid")); done
  for pid in "${pids[@]}"; do
    ticks=$((ticks + $(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)))
  done
  echo "$ticks $(getconf CLK_TCK)" | awk '{printf "%.2f", $1 / $2}'
}

# run PORT LABEL: the whole load through the proxy port; prints pages per second, the CPU
# seconds Squid and c-icap used, and the status codes seen.
run() {
  local port=$1 label=$2 c i pids=() start end
  for ((c = 0; c < clients; c++)); do
    : > "$ZZ_SCRATCH/load.$c"
    for ((i = c; i < requests; i += clients)); do
      printf 'url = "%s"\noutput = "/dev/null"\n' "${pages[i % ${#pages[@]}]}" >> "$ZZ_SCRATCH/load.$c"
    done
  done
  local squid_pid cpu_squid cpu_icap
  squid_pid=$(cat "$ZZ_SCRATCH/squid.pid")
  cpu_squid=$(cpu_of "$squid_pid")
  cpu_icap=$(cpu_of "$icap_pid")
  start=$(date +%s.%N)
  for ((c = 0; c < clients; c++)); do
    curl -s -K "$ZZ_SCRATCH/load.$c" -x "http://127.0.0.1:$port" -w '%{http_code}\n' \
      > "$ZZ_SCRATCH/codes.$c" &
    pids+=($!)
  done
  wait "${pids[@]}"
  end=$(date +%s.%N)
  cpu_squid=$(echo "$(cpu_of "$squid_pid") $cpu_squid" | awk '{printf "%.2f", $1 - $2}')
  cpu_icap=$(echo "$(cpu_of "$icap_pid") $cpu_icap" | awk '{printf "%.2f", $1 - $2}')
  python3 - "$label" "$start" "$end" "$requests" "$cpu_squid" "$cpu_icap" "$ZZ_SCRATCH"/codes.* <<'PY'
import collections, sys
label, start, end, requests = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
cpu_squid, cpu_icap = float(sys.argv[5]), float(sys.argv[6])
codes = collections.Counter(line.strip() for f in sys.argv[7:] for line in open(f))
seconds = end - start
print(f"{label:26} {requests} pages {seconds:6.2f} s {requests / seconds:7.1f} pages/s  CPU ms/page:"
      f" Squid {1000 * cpu_squid / requests:.3f} c-icap {1000 * cpu_icap / requests:.3f}  "
      + " ".join(f"{code}:{n}" for code, n in sorted(codes.items())))
PY
}

echo "$(squid -v | head -n 1); c-icap $(c-icap -V 2>&1 | head -n 1); $clients clients"
run "$plain_port" "Squid alone" >/dev/null  # warm-up: connections and name lookups
for _ in 1 2 3; do
  run "$plain_port" "Squid alone"
  run "$adapted_port" "Squid + c-icap + zazozor"
done
