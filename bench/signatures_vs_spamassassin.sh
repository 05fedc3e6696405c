#!/usr/bin/env bash
# Speed of the signatures filter against SpamAssassin on the same regexes: SpamAssassin's stock
# body, rawbody and uri regex rules converted to ASSL (bench/sa_to_assl.py), run over COUNT
# mails (default 400) of the SpamAssassin public corpus (fetched and picked by
# bench/corpus.sh: the mails whose file names have the smallest MD5).
#
#   bench/signatures_vs_spamassassin.sh BIN [COUNT]        (BIN: the folder of zazozor)
#
# zazozor: one "filter" run over all mails, tracing off, the Bayes and advanced list filters
# switched off (the BW list filter stays on: the signatures filter shares its switch), the
# converted rules as the data folder's pc_sign.slf; once as converted (the first rule that
# hits ends a page), once with --every-rule (every rule runs on every mail, as in
# SpamAssassin). Each is also run on one empty file: the load (parsing, compiling the
# regexes) is reported apart and left out of the "after load" rates.
# SpamAssassin: spamd -L on a loopback port with two children and a scratch home, spamc
# clients two at a time; once with the stock configuration, once with only the converted
# rules (spamd -C, an empty site folder, the Check plugin and the TLD list). Both spamd runs
# are warmed up with four mails first. CPU is spamd's (server and children, from /proc) plus
# the clients'. When BIN holds signatures_bench, it also times the filter's Process alone on
# the same mails and rules, in-process (BM_SignaturesPages): the "filter" rows (run with
# --no-hits, so the host does not run the rules a second time to list every hit) add the
# reading, decoding and parsing of each mail. PCRE2's matching time alone for
# the converted patterns over the same mails comes first (sa_to_assl.py --time-mails).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:?usage: signatures_vs_spamassassin.sh BIN [COUNT]}" && pwd)
count=${2:-400}
scratch=$(mktemp -d /tmp/zz-sigbench.XXXXXX)
spamd_pid=""
stop_spamd() {
  if [ -n "$spamd_pid" ]; then
    kill "$spamd_pid" 2>/dev/null || true
    wait "$spamd_pid" 2>/dev/null || true
    spamd_pid=""
  fi
}
trap 'stop_spamd; rm -rf "$scratch"' EXIT

# --- tools ------------------------------------------------------------------------------------
# shellcheck source=bench/corpus.sh
source "$root/bench/corpus.sh"
bench_need spamd:spamassassin spamc:spamc /usr/bin/time:time npm:npm

# --- the mails --------------------------------------------------------------------------------
corpus=$(corpus_dir)
corpus_pick "$count" > "$scratch/mails.txt"
count=$(wc -l < "$scratch/mails.txt")
n_spam=$(grep -c '/spam-[12]/' "$scratch/mails.txt" || true)
mapfile -t mails < "$scratch/mails.txt"
: > "$scratch/empty.txt"

# --- the rules --------------------------------------------------------------------------------
mkdir -p "$scratch/zz" "$scratch/zz_every" "$scratch/sa_rules" "$scratch/sa_site" "$scratch/home"
chmod 755 "$scratch"; chmod 777 "$scratch/home"  # spamd reads the rules as nobody
python3 "$root/bench/sa_to_assl.py" --time-mails "$scratch/mails.txt" "$scratch/zz/pc_sign.slf" \
  "$scratch/sa_rules/50_converted.cf" | tee "$scratch/convert.txt"
python3 "$root/bench/sa_to_assl.py" --every-rule "$scratch/zz_every/pc_sign.slf" \
  "$scratch/every.cf" >/dev/null
echo 'loadplugin Mail::SpamAssassin::Plugin::Check' > "$scratch/sa_rules/init.pre"
cp /usr/share/spamassassin/20_aux_tlds.cf "$scratch/sa_rules/" 2>/dev/null || true
sa_loaded=$(perl -MMail::SpamAssassin -e '
  my $sa = Mail::SpamAssassin->new({rules_filename => $ARGV[0], site_rules_filename => $ARGV[1],
                                    dont_copy_prefs => 1, local_tests_only => 1});
  $sa->init(0); print scalar(keys %{$sa->{conf}{test_qrs}});' "$scratch/sa_rules" "$scratch/sa_site")

# --- zazozor ----------------------------------------------------------------------------------
export ZAZOZOR_TRACE_LEVEL=off
for folder in "$scratch/zz" "$scratch/zz_every"; do
  cat > "$folder/settings.conf" <<CONF
/http/global/SharedDataPath = .
/http/global/SharedLibsPath = $bin
/http/global/AllParentalFiltersEnabled = 0
/http/filter/parentalbwlist/Enabled = 1
CONF
  for list in prlblk prlwht; do  # the BW list filter shares its switch with the signatures filter
    "$bin/zazozor" --config "$folder/settings.conf" lists build "$scratch/empty.txt" \
      "$folder/$list.cas" >/dev/null
  done
done
zz_args=(--set /http/filter/bayes/Enabled=0 --set /http/filter/parentalbwlistadvanced/Enabled=0)
# timed OUT CMD...: runs CMD with stdout to OUT; prints "WALL CPU" in seconds.
timed() {
  local out=$1; shift
  /usr/bin/time -f "%e %U %S" -o "$scratch/time" "$@" > "$out"
  awk '{ printf "%s %.2f", $1, $2 + $3 }' "$scratch/time"
}
zz_run() {  # FOLDER OUT FILES...
  local folder=$1 out=$2; shift 2
  timed "$out" "$bin/zazozor" --config "$folder/settings.conf" "${zz_args[@]}" filter --no-hits "$@"
}
# What the engine made of the rules: signatures loaded, rules that failed to initialise.
(cd "$scratch" && ZAZOZOR_TRACE_DIR="$scratch" "$bin/zazozor" --trace 3 \
   --config "$scratch/zz/settings.conf" "${zz_args[@]}" filter "$scratch/empty.txt" \
   >/dev/null) || true
zz_signatures=$(grep -o 'obtained [0-9]* signatures' "$scratch/vi2_debug.log" | head -n 1 |
                grep -o '[0-9]*' || echo "?")
zz_failed=$(grep -c -- '-rule .* failed to initialize' "$scratch/vi2_debug.log" || true)

zz_load=$(zz_run "$scratch/zz" "$scratch/zz_empty.jsonl" "$scratch/empty.txt")
zz_first=$(zz_run "$scratch/zz" "$scratch/zz_first.jsonl" "${mails[@]}")
zz_every_load=$(zz_run "$scratch/zz_every" "$scratch/zz_every_empty.jsonl" "$scratch/empty.txt")
zz_every=$(zz_run "$scratch/zz_every" "$scratch/zz_every.jsonl" "${mails[@]}")
hits() { grep -c '"signature": {' "$1" || true; }
# The filter alone, in-process (signatures_bench): "WALL CPU" of one pass over the mails.
inproc() {
  [ -x "$bin/signatures_bench" ] || { echo "- -"; return; }
  ZZ_SIGN_BENCH_DATA=$1 ZZ_SIGN_BENCH_PAGES="$scratch/mails.txt" "$bin/signatures_bench" \
    --benchmark_filter=BM_SignaturesPages --benchmark_format=json 2>/dev/null |
    python3 -c 'import json, sys
b = json.load(sys.stdin)["benchmarks"][0]
print("%.3f %.3f" % (b["real_time"] / 1e6, b["cpu_time"] / 1e6))'
}
zz_first_alone=$(inproc "$scratch/zz")
zz_every_alone=$(inproc "$scratch/zz_every")

# --- SpamAssassin -----------------------------------------------------------------------------
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
spamc_args=(-d 127.0.0.1 -p "$port" -s 67108864 -c)
start_spamd() {  # extra spamd arguments
  spamd -L -x -i 127.0.0.1 -p "$port" --max-children 2 --min-children 2 \
    --max-conn-per-child 1000000 -H "$scratch/home" -u nobody -s "$scratch/spamd.log" "$@" \
    2>>"$scratch/spamd.err" &
  spamd_pid=$!
  for _ in $(seq 600); do
    if spamc -d 127.0.0.1 -p "$port" -K >/dev/null 2>&1; then return 0; fi
    kill -0 "$spamd_pid" 2>/dev/null || break
    sleep 0.2
  done
  echo "spamd did not start; see its log:" >&2
  tail -n 5 "$scratch/spamd.log" "$scratch/spamd.err" >&2
  exit 1
}
spamd_ticks() {  # CPU ticks of spamd and its children, the reaped ones included
  local total=0 pid fields
  for pid in "$spamd_pid" $(ps -o pid= --ppid "$spamd_pid"); do
    [ -r "/proc/$pid/stat" ] || continue
    read -r -a fields < <(sed 's/.*) //' "/proc/$pid/stat")
    total=$((total + fields[11] + fields[12] + fields[13] + fields[14]))
  done
  echo "$total"
}
clients() {  # FILE_LIST: spamc over each mail, two at a time; one score line per mail
  xargs -d '\n' -P 2 -n 10 -a "$1" sh -c \
    'for f; do spamc "$@" < "$f" || true; echo; done' _ "${spamc_args[@]}" 2>/dev/null
}
sa_run() {  # OUT, then extra spamd arguments; prints "WALL CPU SPAMD_CPU"
  local out=$1; shift
  start_spamd "$@"
  head -n 4 "$scratch/mails.txt" > "$scratch/warmup.txt"
  clients "$scratch/warmup.txt" >/dev/null
  local before after client
  before=$(spamd_ticks)
  client=$(timed "$out" bash -c "$(declare -p spamc_args); $(declare -f clients); clients '$scratch/mails.txt'")
  after=$(spamd_ticks)
  stop_spamd
  awk -v c="$client" -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" 'BEGIN {
    split(c, v, " "); printf "%s %.2f %.2f", v[1], v[2] + t / hz, t / hz }'
}
sa_stock=$(sa_run "$scratch/sa_stock.txt")
sa_conv=$(sa_run "$scratch/sa_conv.txt" -C "$scratch/sa_rules" --siteconfigpath "$scratch/sa_site")
sa_scored() { grep -c '^-\?[0-9.]*/' "$1" || true; }
sa_hits() { awk -F/ '/^-?[0-9.]+\// && $1 + 0 != 0' "$1" | wc -l; }

# --- report -----------------------------------------------------------------------------------
row() {  # NAME "WALL CPU [..]" HITS [LOAD]
  echo "$2" | awk -v name="$1" -v n="$count" -v hits="$3" -v load="${4:-}" '{
    wall = $1; cpu = $2; split(load, l, " ");
    printf "%-44s %7.2f %7.2f %9.0f %9.0f", name, wall, cpu, n / wall, (cpu > 0 ? n / cpu : 0)
    if (load != "") printf " %9.0f %9.0f", n / (wall - l[1]), (cpu - l[2] > 0 ? n / (cpu - l[2]) : 0)
    else printf " %9s %9s", "-", "-"
    printf "   %s\n", hits }'
}
echo
echo "mails: $count ($n_spam spam) from $corpus"
echo "rules: $(sed -n 's/^compiled by PCRE2: \([0-9]*\).*/\1/p' "$scratch/convert.txt") converted;" \
     "zazozor loaded $zz_signatures signatures, $zz_failed rules failed to initialise;" \
     "SpamAssassin loaded $sa_loaded of them"
printf '%-44s %7s %7s %9s %9s %9s %9s   %s\n' "" "wall s" "cpu s" "mails/s" "mails/s" \
  "after" "load:" "mails with"
printf '%-44s %7s %7s %9s %9s %9s %9s   %s\n' "" "" "" "wall" "cpu" "wall" "cpu" "a hit"
row "zazozor filter, first hit ends a mail" "$zz_first" "$(hits "$scratch/zz_first.jsonl")" "$zz_load"
row "zazozor filter, every rule on every mail" "$zz_every" "$(hits "$scratch/zz_every.jsonl")" "$zz_every_load"
row "zazozor load alone (one empty file)" "$zz_load" "-"
row "filter's Process alone, first hit ends" "$zz_first_alone" "-"
row "filter's Process alone, every rule" "$zz_every_alone" "-"
row "spamd + spamc x2, stock configuration" "$sa_stock" "$(sa_hits "$scratch/sa_stock.txt") of $(sa_scored "$scratch/sa_stock.txt") scored (score > 0)"
row "spamd + spamc x2, converted rules only" "$sa_conv" "$(sa_hits "$scratch/sa_conv.txt") of $(sa_scored "$scratch/sa_conv.txt") scored (score > 0)"
awk -v z="$zz_every" -v l="$zz_every_load" -v p="$zz_every_alone" -v s="$sa_conv" 'BEGIN {
  split(z, a, " "); split(l, b, " "); split(p, f, " "); split(s, c, " ");
  printf "\nspeed over spamd with the converted rules, every rule on every mail:\n"
  printf "  zazozor filter after load: %.1fx by CPU, %.1fx by wall\n",
         c[2] / (a[2] - b[2]), c[1] / (a[1] - b[1])
  if (f[2] > 0) printf "  the filter'"'"'s Process alone: %.1fx by CPU\n", c[2] / f[2] }'
echo "spamd CPU alone (server and children): stock $(echo "$sa_stock" | cut -d' ' -f3) s," \
     "converted $(echo "$sa_conv" | cut -d' ' -f3) s"
echo
echo "commands:"
echo "  python3 bench/sa_to_assl.py [--every-rule] DATA/pc_sign.slf RULES/50_converted.cf"
echo "  zazozor --config DATA/settings.conf ${zz_args[*]} filter --no-hits MAIL...  (settings.conf:" \
     "SharedDataPath, SharedLibsPath, AllParentalFiltersEnabled = 0, parentalbwlist/Enabled = 1)"
echo "  spamd -L -x -i 127.0.0.1 -p PORT --max-children 2 --min-children 2 -H HOME -u nobody [-C RULES --siteconfigpath EMPTY]"
echo "  xargs -P 2 ... spamc ${spamc_args[*]} < MAIL"
