#!/usr/bin/env bash
# Throughput of "zazozor urls" with the BW list filter alone and with the BW list filter and
# the advanced list filter together, on the same request stream.
#
#   bench/urls_categories.sh BUILD_BIN WORKLOAD_DIR [WORK_DIR]
#
# WORKLOAD_DIR holds black.txt, white.txt and urls.txt (for example from the shared URL
# workload generator). The black and white lists become prlblk.cas and prlwht.cas; black.txt
# split into 17 parts becomes the 17 category lists (in the filter's table order) and
# white.txt the category white list. Needs GNU time (Debian package "time"). Prints, per
# run, the time to start and answer the stream (wall clock and CPU time), URLs per second
# and peak memory, the ratio of the two runs' CPU times, and checks that both runs give the
# same BW verdicts. ZAZOZOR_THREADS, when set, is passed to "urls --threads". The ratios to
# quote come last: ZAZOZOR_PAIRS (default 9) alternating pairs of the two runs, their
# median ratio (the single runs above can fall in minutes of different machine speed); then
# what each filter costs on its own: ZAZOZOR_ROUNDS (default 7) rounds of a run with no
# filter, one with the BW filter alone and one with the advanced filter alone, the median
# ratio of the two filters' CPU times once the no-filter run's is taken off each.
set -euo pipefail
bin=$(cd "$1" && pwd)
workload=$(cd "$2" && pwd)
work=${3:-$(mktemp -d /tmp/zz-catbench.XXXXXX)}
mkdir -p "$work/bw" "$work/both" "$work/adv" "$work/none" "$work/parts"
urls="$workload/urls.txt"
n=$(wc -l < "$urls")
export ZAZOZOR_TRACE_LEVEL=off

measure() {  # name, command...: runs it and records "wall_s peak_kb cpu_s" in $work/name.time
  local name=$1; shift
  /usr/bin/time -f "%e %M %U %S" -o "$work/$name.time" "$@"
  awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$work/$name.time" > "$work/$name.tmp"
  mv "$work/$name.tmp" "$work/$name.time"
}

# BW lists in both folders.
"$bin/zazozor" lists build "$workload/black.txt" "$work/bw/prlblk.cas" >/dev/null
"$bin/zazozor" lists build "$workload/white.txt" "$work/bw/prlwht.cas" >/dev/null
cp "$work/bw/prlblk.cas" "$work/bw/prlwht.cas" "$work/both/"
# Both: 17 category lists from the black list, the white list from the white list.
split -n l/17 -d -a 2 "$workload/black.txt" "$work/parts/part."
categories=(webproxy games tabloids hate gambling drugs illegal onlineshop onlinepay video
            socialnetworks onlinedating im searchengines regionaltlds news pornography)
for i in "${!categories[@]}"; do
  measure "build_${categories[$i]}" "$bin/zazozor" categories build \
    "$work/parts/part.$(printf %02d "$i")" "$work/both/pc_${categories[$i]}.dat" >/dev/null
done
"$bin/zazozor" categories build "$workload/white.txt" "$work/both/pc_white.dat" >/dev/null
cp "$work/both/"pc_*.dat "$work/adv/"

settings() {  # folder, BW filter on (0/1), advanced filter on (0/1)
  cat > "$work/$1/settings.conf" <<CONF
/http/global/SharedDataPath = .
/http/global/GlobalTempPath = .
/http/global/AllParentalFiltersEnabled = 0
/http/filter/parentalbwlist/Enabled = $2
/http/filter/bayes/Enabled = 0
/http/filter/parentalbwlistadvanced/Enabled = $3
CONF
}
settings none 0 0
settings bw 1 0
settings adv 0 1
settings both 1 1

for run in bw both; do
  measure "run_$run" "$bin/zazozor" --config "$work/$run/settings.conf" urls \
    ${ZAZOZOR_THREADS:+--threads "$ZAZOZOR_THREADS"} "$urls" > "$work/$run/out.txt"
done

# --- report --------------------------------------------------------------------------------
report() {  # label, time file
  read -r wall peak cpu < "$2"
  awk -v label="$1" -v n="$n" -v wall="$wall" -v peak="$peak" -v cpu="$cpu" 'BEGIN {
    printf "%-34s %8.2f s wall %10.0f URLs/s, %6.2f s CPU  peak %7.1f MB\n", label, wall,
           n / wall, cpu, peak / 1024 }'
}
echo "$n request lines from $urls"
report "zazozor urls, BW list filter" "$work/run_bw.time"
report "zazozor urls, BW + advanced filter" "$work/run_both.time"
awk 'NR == FNR { bw = $3; next } { printf "BW+advanced/BW CPU ratio, one run each: %.2f\n", $3 / bw }' \
  "$work/run_bw.time" "$work/run_both.time"
total=0
for c in "${categories[@]}"; do total=$(awk -v t="$total" '{ print t + $1 }' "$work/build_$c.time"); done
echo "building the 17 category lists: ${total} s in all"
listed=$(grep -vc '"categories": \[\]' "$work/both/out.txt" || true)
echo "URLs on a category list or the category white list: $listed"
if cmp -s <(sed 's/, "categories".*$//' "$work/bw/out.txt") \
          <(sed 's/, "categories".*$//' "$work/both/out.txt"); then
  echo "BW verdicts: identical in both runs"
else
  echo "BW verdicts: DIFFER between the runs" >&2
  exit 1
fi
# shellcheck source=bench/paired.sh
source "$(dirname "$0")/paired.sh"
run_command() {  # the urls run in folder $1, as a shell command line
  echo "cd '$work/$1' && exec '$bin/zazozor' --config settings.conf urls" \
    "${ZAZOZOR_THREADS:+--threads $ZAZOZOR_THREADS} '$urls'"
}
paired_cpu_ratio "${ZAZOZOR_PAIRS:-9}" BW BW+advanced "$(run_command bw)" "$(run_command both)"
filter_cost_ratio "${ZAZOZOR_ROUNDS:-7}" BW advanced "$(run_command none)" "$(run_command bw)" \
  "$(run_command adv)"
