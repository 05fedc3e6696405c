#!/usr/bin/env bash
# Pages through Squid and c-icap with the zazozor content service, end to end:
#   - the poker sample page (a signature rule condemns it) arrives as the block page, 403,
#     naming the rule, the address and the session the settings map the client address to;
#   - the clean sample pages, a binary file, a clean page far over the size limit (judged on
#     its first part, then streamed) and a gzip-encoded clean page arrive byte for byte, with
#     and without Content-Length;
#   - the poker page gzip-encoded, and a long page that starts with it (plain, and gzip-encoded
#     to less than the limit though it decodes to far more), are blocked too.
# Usage: icap_content_test.sh BIN_DIR (the build's bin/, with srv_zazozor.so and the module)
# Exit 0 when every check passes, 1 on a failure, 77 (skip) when Squid, c-icap, curl or
# python3 is missing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
bin=$(cd "${1:?usage: icap_content_test.sh BIN_DIR}" && pwd)
source_dir=$(cd "$here/../.." && pwd)

for program in squid c-icap curl python3; do
  command -v "$program" >/dev/null || zz_skip "$program is not installed"
done
[[ -f $bin/srv_zazozor.so ]] || zz_skip "srv_zazozor.so was not built (no c-icap development files)"
echo "$(squid -v | head -n 1); c-icap $(c-icap -V 2>&1 | head -n 1)"

zz_scratch
origin_port=$(zz_free_port)
icap_port=$(zz_free_port)
squid_port=$(zz_free_port)
www=$ZZ_SCRATCH/www
mkdir -p "$www"
cp "$source_dir"/data/pages/*.html "$www/"
head -c 300000 /dev/urandom > "$www/blob.bin"
# Pages far over the 16 KiB limit set below (and over the 64 KiB Squid holds back until the
# answer begins), judged on their first part: large.html clean, large-poker.html condemned.
for _ in $(seq 6000); do echo "<p>The museum shows old maps and paintings.</p>"; done > "$ZZ_SCRATCH/pad"
cat "$www/kids-encyclopedia.html" "$ZZ_SCRATCH/pad" > "$www/large.html"
cat "$www/poker-palace.html" "$ZZ_SCRATCH/pad" > "$www/large-poker.html"
chmod -R a+rX "$www"

# The origin: files from www; /gz/NAME sends NAME gzip-encoded, /nolen/NAME without a
# Content-Length (the body ends when the connection closes).
cat > "$ZZ_SCRATCH/origin.py" <<'PY'
import gzip, http.server, os, sys
root, port = sys.argv[1], int(sys.argv[2])
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        parts = self.path.strip("/").split("/")
        mode, name = (parts[0], parts[1]) if len(parts) == 2 else ("", parts[0])
        try:
            body = open(os.path.join(root, os.path.basename(name)), "rb").read()
        except OSError:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8" if name.endswith(".html")
                         else "application/octet-stream")
        if mode == "gz":
            body = gzip.compress(body)
            self.send_header("Content-Encoding", "gzip")
        if mode != "nolen":
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True
    def log_message(self, *args):
        pass
http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler).serve_forever()
PY
python3 "$ZZ_SCRATCH/origin.py" "$www" "$origin_port" >"$ZZ_SCRATCH/origin.log" 2>&1 &
zz_track_pid $!
zz_wait_port "$origin_port" || { cat "$ZZ_SCRATCH/origin.log"; exit 1; }

cat > "$ZZ_SCRATCH/zazozor.conf" <<CONF
/http/global/SharedDataPath = $bin/data
/http/global/GlobalTempPath = $ZZ_SCRATCH
/http/global/AllParentalFiltersEnabled = 1
squid.session.127.0.0.0/8 = 3
CONF
zz_start_icap "$icap_port" "$bin" "AccessLog $ZZ_SCRATCH/c-icap-access.log
MaxServers 1
ThreadsPerChild 10
DebugLevel 1
zazozor.SettingsFile $ZZ_SCRATCH/zazozor.conf
zazozor.BlockPage $source_dir/data/blockpage.html
zazozor.MaxBodySize 16k" || exit 1

echo "127.0.0.1 pages.test" > "$ZZ_SCRATCH/hosts"
zz_start_squid "$squid_port" "icap_enable on
icap_preview_enable on
adaptation_send_client_ip on
icap_service zz_content respmod_precache icap://127.0.0.1:$icap_port/zazozor bypass=off
adaptation_access zz_content allow all" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# fetch PATH: the body into $ZZ_SCRATCH/got, the status code into $status.
fetch() {
  status=$(curl -s -o "$ZZ_SCRATCH/got" -w '%{http_code}' --max-time 20 \
    -x "http://127.0.0.1:$squid_port" "http://pages.test:$origin_port/$1")
}

fetch poker-palace.html
[[ $status == 403 ]] || fail "poker page: status $status, expected 403"
grep -q 'id="rule">GamblingSite<' "$ZZ_SCRATCH/got" || fail "poker page: the block page does not name GamblingSite"
grep -q "pages.test:$origin_port/poker-palace.html" "$ZZ_SCRATCH/got" || fail "poker page: no address"
grep -q 'id="session">3<' "$ZZ_SCRATCH/got" || fail "poker page: not judged in the client's session 3"
for path in gz/poker-palace.html gz/large-poker.html large-poker.html nolen/large-poker.html; do
  fetch "$path"
  [[ $status == 403 ]] && grep -q GamblingSite "$ZZ_SCRATCH/got" || fail "$path: status $status, not blocked"
done

for path in kids-encyclopedia.html museum-windows1252.html friendface-utf16.html pixel-quest.html \
            blob.bin nolen/blob.bin large.html nolen/large.html; do
  fetch "$path"
  [[ $status == 200 ]] || fail "$path: status $status"
  cmp -s "$ZZ_SCRATCH/got" "$www/$(basename "$path")" || fail "$path: body changed"
done
fetch gz/kids-encyclopedia.html
gzip -dc < "$ZZ_SCRATCH/got" | cmp -s - "$www/kids-encyclopedia.html" || fail "gzip page: body changed"

if (( failures > 0 )); then
  zz_dump_logs
  tail -n 20 "$ZZ_SCRATCH"/c-icap*.log "$ZZ_SCRATCH/c-icap.out"
  echo "$failures check(s) failed"
  exit 1
fi
echo "PASS: condemned pages (plain, gzip, long) blocked; clean, binary, long and gzip pages unchanged"
