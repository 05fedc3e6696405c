#!/usr/bin/env bash
# Rule loading: "zazozor rules check" on a generated file of COUNT rules (default 10,000;
# bench/rules_gen.py, every construct, about 3% broken) against SpamAssassin loading and
# checking its stock rule set ("spamassassin --lint", Debian package spamassassin) as the
# reference point of the field. Each program runs RUNS times (default 5); the run with the
# least CPU time (user + system: the machine may be shared) is reported with its wall time,
# rules per CPU second and peak resident memory.
#
# usage: bench/rules_vs_spamassassin.sh BIN [COUNT] [RUNS]      (BIN: the folder of zazozor)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:?usage: rules_vs_spamassassin.sh BIN [COUNT] [RUNS]}
count=${2:-10000}
runs=${3:-5}
scratch=$(mktemp -d /tmp/zz_rules_bench_XXXXXX)
trap 'rm -rf "$scratch"' EXIT

for tool in /usr/bin/time spamassassin; do
  if ! command -v "$tool" >/dev/null; then
    echo "missing $tool (Debian packages: time, spamassassin)" >&2
    exit 1
  fi
done

rules=$scratch/bench.slf
python3 "$root/bench/rules_gen.py" "$rules" "$count"

# best_of CMD...: runs CMD $runs times; prints "CPU_SECONDS WALL_SECONDS PEAK_KB" of the
# run with the least CPU time.
best_of() {
  local best="" line
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%U %S %e %M" -o "$scratch/time" "$@" >"$scratch/out" 2>"$scratch/err" || true
    line=$(tail -n 1 "$scratch/time" | awk '{ printf "%.2f %s %s", $1 + $2, $3, $4 }')
    if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN{exit !(a<b)}'; then
      best=$line
    fi
  done
  echo "$best"
}

report() {  # NAME RULES "CPU WALL PEAK_KB"
  echo "$3" | awk -v n="$1" -v r="$2" '{
    printf "%-22s %6d rules  cpu %6.2f s  wall %6.2f s  %9.0f rules/cpu-s  peak %6.1f MB\n",
           n, r, $1, $2, ($1 > 0 ? r / $1 : 0), $3 / 1024 }'
}

zz=$(ZAZOZOR_TRACE_LEVEL=off best_of "$bin/zazozor" rules check "$rules")
summary=$(tail -n 1 "$scratch/out")
report "zazozor rules check" "$count" "$zz"
echo "  ($summary)"

# SpamAssassin's stock rules: every rule definition line of the shipped rule files.
sa_rules=$(cat /usr/share/spamassassin/*.cf /etc/spamassassin/*.cf 2>/dev/null |
  grep -cE '^[[:space:]]*(header|body|rawbody|full|uri|meta|mimeheader|askdns|uri_detail)[[:space:]]+[A-Z_0-9]' || true)
sa=$(best_of spamassassin --lint)
report "spamassassin --lint" "$sa_rules" "$sa"
