#!/usr/bin/env bash
# Throughput of "zazozor urls" (BW list filter only) against squidGuard on the same black
# and white lists and the same request stream.
#
#   bench/urls_vs_squidguard.sh BUILD_BIN WORKLOAD_DIR [WORK_DIR]
#
# WORKLOAD_DIR holds black.txt, white.txt and urls.txt (for example from the shared URL
# workload generator). Needs the Debian packages squidguard and time. Prints, for both
# programs, the list build time, the time to answer the stream (wall clock and CPU time:
# on a shared machine the CPU time is the steadier figure), URLs per second of each, and
# peak memory, and checks that both put the same URLs on the black list. ZAZOZOR_THREADS
# when set, is passed to "urls --threads". ZAZOZOR_REFERENCE_BIN, when set, names another
# build (for example the one before a change) whose answers must be the same, line by line.
# The ratio to quote comes last: ZAZOZOR_PAIRS (default 5) alternating pairs of the two
# programs' runs, their median CPU ratio (single runs can fall in minutes of different
# machine speed).
set -euo pipefail
bin=$(cd "$1" && pwd)
workload=$(cd "$2" && pwd)
work=${3:-$(mktemp -d /tmp/zz-urlbench.XXXXXX)}
mkdir -p "$work/zz"
urls="$workload/urls.txt"
n=$(wc -l < "$urls")

measure() {  # name, command...: runs it and records "wall_s peak_kb cpu_s" in $work/name.time
  local name=$1; shift
  /usr/bin/time -f "%e %M %U %S" -o "$work/$name.time" "$@"
  awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$work/$name.time" > "$work/$name.tmp"
  mv "$work/$name.tmp" "$work/$name.time"
}

# --- zazozor -----------------------------------------------------------------------------
cat > "$work/zz/settings.conf" <<CONF
/http/global/SharedDataPath = .
/http/global/GlobalTempPath = .
/http/global/AllParentalFiltersEnabled = 0
/http/filter/parentalbwlist/Enabled = 1
/http/filter/bayes/Enabled = 0
/http/filter/parentalbwlistadvanced/Enabled = 0
CONF
export ZAZOZOR_TRACE_LEVEL=off
"$bin/zazozor" lists build "$workload/white.txt" "$work/zz/prlwht.cas" >/dev/null
measure zz_build "$bin/zazozor" lists build "$workload/black.txt" "$work/zz/prlblk.cas" >/dev/null
measure zz_run "$bin/zazozor" --config "$work/zz/settings.conf" urls \
  ${ZAZOZOR_THREADS:+--threads "$ZAZOZOR_THREADS"} "$urls" > "$work/zz/out.txt"

# --- squidGuard ----------------------------------------------------------------------------
# shellcheck source=bench/squidguard.sh
source "$(dirname "$0")/squidguard.sh"
squidguard_setup "$workload" "$work"
measure sg_build squidGuard -c "$work/sg/squidGuard.conf" -C all
measure sg_run squidGuard -c "$work/sg/squidGuard.conf" < "$urls" > "$work/sg/out.txt"

# --- report --------------------------------------------------------------------------------
zz_black=$(grep -c '"list": "black"' "$work/zz/out.txt" || true)
sg_black=$(grep -c 'rewrite-url\|^http://blocked' "$work/sg/out.txt" || true)
report() {  # name, build times file, run times file
  read -r bwall bpeak bcpu < "$2"
  read -r rwall rpeak rcpu < "$3"
  awk -v name="$1" -v n="$n" -v bw="$bwall" -v bp="$bpeak" -v rw="$rwall" -v rp="$rpeak" \
      -v rc="$rcpu" \
    'BEGIN { printf "%-10s build %6.2f s (%6.1f MB)  run %6.2f s wall %9.0f URLs/s, %6.2f s CPU %9.0f URLs/s  peak %6.1f MB\n",
             name, bw, bp / 1024, rw, (rw > 0 ? n / rw : 0), rc, (rc > 0 ? n / rc : 0), rp / 1024 }'
}
echo "URLs: $n   black verdicts: zazozor $zz_black, squidGuard $sg_black"
if [ -n "${ZAZOZOR_REFERENCE_BIN:-}" ]; then
  "$ZAZOZOR_REFERENCE_BIN/zazozor" --config "$work/zz/settings.conf" urls \
    ${ZAZOZOR_THREADS:+--threads "$ZAZOZOR_THREADS"} "$urls" > "$work/zz/reference.txt"
  if cmp -s "$work/zz/out.txt" "$work/zz/reference.txt"; then
    echo "answers: the same as $ZAZOZOR_REFERENCE_BIN"
  else
    echo "answers: DIFFERENT from $ZAZOZOR_REFERENCE_BIN"
  fi
fi
report zazozor "$work/zz_build.time" "$work/zz_run.time"
report squidGuard "$work/sg_build.time" "$work/sg_run.time"
# shellcheck source=bench/paired.sh
source "$(dirname "$0")/paired.sh"
paired_cpu_ratio "${ZAZOZOR_PAIRS:-5}" zazozor squidGuard \
  "cd '$work/zz' && exec '$bin/zazozor' --config settings.conf urls ${ZAZOZOR_THREADS:+--threads $ZAZOZOR_THREADS} '$urls'" \
  "exec squidGuard -c '$work/sg/squidGuard.conf' < '$urls'"
echo "work folder: $work"
