# Shell functions for the benchmarks that compare commands' CPU time: source it.
#
# On a shared machine one run of each command can fall in minutes of different speed, so a
# ratio of two single runs moves by a third from one try to the next. The functions below
# run the commands in turn, round after round, and take medians over the rounds of ratios
# formed within a round.

# The awk function median(v, n): the median of v[1..n] (sorts v in place).
_paired_median_awk='
  function median(v, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) {
      t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }'

# _timed_rounds ROUNDS FILE "COMMAND"...: runs the commands in turn ROUNDS times (output
# discarded) and writes one line per round to FILE: each command's user and system seconds.
_timed_rounds() {
  local rounds=$1 file=$2 i c
  shift 2
  : > "$file"
  for ((i = 0; i < rounds; i++)); do
    for c in "$@"; do
      /usr/bin/time -f "%U %S" -o "$file.one" sh -c "$c" > /dev/null
      printf '%s ' "$(cat "$file.one")" >> "$file"
    done
    echo >> "$file"
  done
  rm -f "$file.one"
}

# paired_cpu_ratio PAIRS LABEL_A LABEL_B "COMMAND_A" "COMMAND_B": each command is a shell
# command line (its output is discarded). Prints the median (and the range) of the per-pair
# ratios of CPU time (user + system), and each command's median CPU time, in one line:
#   LABEL_B/LABEL_A CPU ratio, median of N pairs: R (min .. max); LABEL_A S s, LABEL_B S s
paired_cpu_ratio() {
  local times
  times=$(mktemp)
  _timed_rounds "$1" "$times" "$4" "$5"
  awk -v la="$2" -v lb="$3" "$_paired_median_awk"'
    { a[NR] = $1 + $2; b[NR] = $3 + $4; r[NR] = a[NR] > 0 ? b[NR] / a[NR] : 0 }
    END {
      n = NR; ra = median(r, n); lo = r[1]; hi = r[n]
      printf "%s/%s CPU ratio, median of %d pairs: %.2f (%.2f .. %.2f); %s %.2f s, %s %.2f s\n",
             lb, la, n, ra, lo, hi, la, median(a, n), lb, median(b, n)
    }' "$times"
  rm -f "$times"
}

# filter_cost_ratio ROUNDS LABEL_A LABEL_B "COMMAND_NONE" "COMMAND_A" "COMMAND_B": what two
# filters cost on their own. Each round runs the host with no filter, with filter A alone
# and with filter B alone; a filter's cost is its run's CPU time less the no-filter run's
# (the host's own reading, parsing and writing). Prints one line:
#   LABEL_B/LABEL_A filter CPU ratio, host's own work removed, median of N rounds: R
#   (min .. max); host alone S s, LABEL_A S s, LABEL_B S s
filter_cost_ratio() {
  local times
  times=$(mktemp)
  _timed_rounds "$1" "$times" "$4" "$5" "$6"
  awk -v la="$2" -v lb="$3" "$_paired_median_awk"'
    { h[NR] = $1 + $2; a[NR] = $3 + $4 - h[NR]; b[NR] = $5 + $6 - h[NR]
      r[NR] = a[NR] > 0 ? b[NR] / a[NR] : 0 }
    END {
      n = NR; ra = median(r, n); lo = r[1]; hi = r[n]
      printf "%s/%s filter CPU ratio, host\47s own work removed, median of %d rounds: %.2f" \
             " (%.2f .. %.2f); host alone %.2f s, %s %.2f s, %s %.2f s\n",
             lb, la, n, ra, lo, hi, median(h, n), la, median(a, n), lb, median(b, n)
    }' "$times"
  rm -f "$times"
}
