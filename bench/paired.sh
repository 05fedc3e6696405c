# Shell function for the benchmarks that compare two commands' CPU time: source it.
#
# On a shared machine one run of each command can fall in minutes of different speed, so a
# ratio of two single runs moves by a third from one try to the next. paired_cpu_ratio runs
# the two commands alternately, pair after pair, and prints the median (and the range) of
# the per-pair ratios of CPU time (user + system), and each command's median CPU time.

# paired_cpu_ratio PAIRS LABEL_A LABEL_B "COMMAND_A" "COMMAND_B": each command is a shell
# command line (its output is discarded). Prints one line:
#   LABEL_B/LABEL_A CPU ratio, median of N pairs: R (min .. max); LABEL_A S s, LABEL_B S s
paired_cpu_ratio() {
  local pairs=$1 label_a=$2 label_b=$3 command_a=$4 command_b=$5 i times
  times=$(mktemp)
  for ((i = 0; i < pairs; i++)); do
    /usr/bin/time -f "%U %S" -o "$times.a" sh -c "$command_a" > /dev/null
    /usr/bin/time -f "%U %S" -o "$times.b" sh -c "$command_b" > /dev/null
    paste "$times.a" "$times.b" >> "$times"
  done
  awk -v la="$label_a" -v lb="$label_b" '
    function median(v, n,   i, j, t) {
      for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) {
        t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    { a[NR] = $1 + $2; b[NR] = $3 + $4; r[NR] = a[NR] > 0 ? b[NR] / a[NR] : 0 }
    END {
      n = NR; ra = median(r, n); lo = r[1]; hi = r[n]
      printf "%s/%s CPU ratio, median of %d pairs: %.2f (%.2f .. %.2f); %s %.2f s, %s %.2f s\n",
             lb, la, n, ra, lo, hi, la, median(a, n), lb, median(b, n)
    }' "$times"
  rm -f "$times" "$times.a" "$times.b"
}

# filter_cost_ratio ROUNDS LABEL_A LABEL_B "COMMAND_NONE" "COMMAND_A" "COMMAND_B": what two
# filters cost on their own. Each round runs the host with no filter, with filter A alone
# and with filter B alone; a filter's cost is its run's CPU time less the no-filter run's
# (the host's own reading, parsing and writing). Prints one line:
#   LABEL_B/LABEL_A filter CPU ratio, host's own work removed, median of N rounds: R
#   (min .. max); host alone S s, LABEL_A S s, LABEL_B S s
filter_cost_ratio() {
  local rounds=$1 label_a=$2 label_b=$3 command_none=$4 command_a=$5 command_b=$6 i times
  times=$(mktemp)
  for ((i = 0; i < rounds; i++)); do
    /usr/bin/time -f "%U %S" -o "$times.n" sh -c "$command_none" > /dev/null
    /usr/bin/time -f "%U %S" -o "$times.a" sh -c "$command_a" > /dev/null
    /usr/bin/time -f "%U %S" -o "$times.b" sh -c "$command_b" > /dev/null
    paste "$times.n" "$times.a" "$times.b" >> "$times"
  done
  awk -v la="$label_a" -v lb="$label_b" '
    function median(v, n,   i, j, t) {
      for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) {
        t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    { h[NR] = $1 + $2; a[NR] = $3 + $4 - h[NR]; b[NR] = $5 + $6 - h[NR]
      r[NR] = a[NR] > 0 ? b[NR] / a[NR] : 0 }
    END {
      n = NR; ra = median(r, n); lo = r[1]; hi = r[n]
      printf "%s/%s filter CPU ratio, host\47s own work removed, median of %d rounds: %.2f" \
             " (%.2f .. %.2f); host alone %.2f s, %s %.2f s, %s %.2f s\n",
             lb, la, n, ra, lo, hi, median(h, n), la, median(a, n), lb, median(b, n)
    }' "$times"
  rm -f "$times" "$times.n" "$times.a" "$times.b"
}
