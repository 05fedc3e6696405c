#!/usr/bin/env bash
# "zazozor squid" behind the real Squid: a local origin server serves two pages, Squid on a
# loopback port asks the helper about every request, and curl goes through the proxy.
#   1. --mode acl as an external ACL (concurrency=8): a black-listed site is denied (403),
#      a white-listed page and a page on neither list arrive byte for byte.
#   2. --mode rewrite as the URL rewriter (concurrency=8): a black-listed site is
#      redirected (302) to the block address with the reason, and clean pages pass.
# Host names resolve through a hosts file of the scratch folder, so nothing leaves the machine.
#
#   tests/proxy/squid_url_test.sh BIN_DIR
#
# Exit status 0 when every check holds, 1 when one fails, 77 (skip) when Squid, curl or
# python3 is missing or Squid does not start here.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
bin=$(cd "${1:?usage: squid_url_test.sh BIN_DIR}" && pwd)

for tool in squid curl python3; do
  command -v "$tool" >/dev/null || zz_skip "$tool is not installed (Debian: apt-get install squid curl python3)"
done
[[ -x $bin/zazozor ]] || { echo "FAIL: no $bin/zazozor"; exit 1; }
zz_scratch
S=$ZZ_SCRATCH
mkdir -p "$S/data" "$S/www"
printf 'blocked.test\n' > "$S/black.txt"
printf 'kids.test\n' > "$S/white.txt"
"$bin/zazozor" lists build "$S/black.txt" "$S/data/prlblk.cas" >/dev/null &&
  "$bin/zazozor" lists build "$S/white.txt" "$S/data/prlwht.cas" >/dev/null ||
  { echo "FAIL: cannot build the lists"; exit 1; }
cat > "$S/settings.conf" <<CONF
/http/global/SharedDataPath = data
/http/global/GlobalTempPath = data
/http/global/AllParentalFiltersEnabled = 0
/http/filter/parentalbwlist/Enabled = 1
CONF
printf '<html><head><title>Clean</title></head><body>Homework help \xc3\xa9\n</body></html>\n' > "$S/www/page.html"
head -c 200000 /dev/urandom > "$S/www/blob.bin"
printf '127.0.0.1 www.kids.test www.blocked.test www.other.test\n' > "$S/hosts"
[[ $(id -u) == 0 ]] && id proxy >/dev/null 2>&1 && chown -R proxy: "$S"

origin=$(zz_free_port)
zz_start_origin "$S/www" "$origin" || { echo "FAIL: the origin server did not start"; exit 1; }

failures=0
check() {  # what, expected, actual
  if [[ $2 == "$3" ]]; then echo "ok   $1"; else echo "FAIL $1: expected '$2', got '$3'"; failures=$((failures + 1)); fi
}
fetch() {  # URL: prints the status code; the body lands in $S/body
  curl -s -o "$S/body" -w '%{http_code} %{redirect_url}' --max-time 20 -x "127.0.0.1:$proxy" "$1"
}
helper="$bin/zazozor --config $S/settings.conf squid --workers 2"

run_squid() {  # snippet: starts Squid on a new port (stopping the one before)
  [[ -n ${squid_pid:-} ]] && { squid -f "$ZZ_SQUID_CONF" -k shutdown >/dev/null 2>&1; wait "$squid_pid" 2>/dev/null; }
  proxy=$(zz_free_port)
  zz_start_squid "$proxy" "$1" || zz_skip "Squid $(squid -v | sed -n '1s/.*Version //p') did not start here"
  squid_pid=${ZZ_PIDS[-1]}
}

# --- 1. external ACL ----------------------------------------------------------------------
run_squid "external_acl_type zazozor_url ttl=0 negative_ttl=0 children-max=1 concurrency=8 %URI %SRC %un $helper --mode acl
acl zazozor_blocked external zazozor_url
http_access deny zazozor_blocked"
check "acl: white-listed page status" "200 " "$(fetch "http://www.kids.test:$origin/page.html")"
check "acl: white-listed page bytes" same "$(cmp -s "$S/body" "$S/www/page.html" && echo same)"
check "acl: unlisted binary status" "200 " "$(fetch "http://www.other.test:$origin/blob.bin")"
check "acl: unlisted binary bytes" same "$(cmp -s "$S/body" "$S/www/blob.bin" && echo same)"
check "acl: black-listed site" "403 " "$(fetch "http://www.blocked.test:$origin/page.html")"
check "acl: black-listed site, escaped path" "403 " "$(fetch "http://www.blocked.test:$origin/a%20b?q=%22")"
grep -q 'TCP_DENIED/403.*www.blocked.test' "$S/access.log" 2>/dev/null
check "acl: denial in the access log" 0 "$?"

# --- 2. URL rewriter ----------------------------------------------------------------------
run_squid "url_rewrite_program $helper --mode rewrite --block-url http://block.invalid/page
url_rewrite_children 1 startup=1 idle=1 concurrency=8"
check "rewrite: white-listed page status" "200 " "$(fetch "http://www.kids.test:$origin/page.html")"
check "rewrite: white-listed page bytes" same "$(cmp -s "$S/body" "$S/www/page.html" && echo same)"
check "rewrite: black-listed site" \
  "302 http://block.invalid/page?reason=black%20list&site=blocked.test&url=http%3A%2F%2Fwww.blocked.test%3A$origin%2Fx&session=0" \
  "$(fetch "http://www.blocked.test:$origin/x")"

echo "squid: $(squid -v | sed -n '1s/.*Version //p'), curl: $(curl --version | sed -n '1s/curl \([^ ]*\).*/\1/p')"
if (( failures > 0 )); then zz_dump_logs; exit 1; fi
echo "all checks passed"
