# Shell helpers for the proxy integration tests; source this file from a bash script.
#
#   zz_skip MESSAGE             prints "SKIP: MESSAGE" and exits 77 (ctest's skip code)
#   zz_scratch                  makes $ZZ_SCRATCH (readable by the proxy's user) and sets an
#                               EXIT trap that stops everything started here and removes it
#   zz_free_port                prints a free TCP port on 127.0.0.1
#   zz_wait_port PORT [SECS]    waits until 127.0.0.1:PORT accepts connections (default 10 s)
#   zz_start_origin DIR PORT    serves DIR over HTTP on 127.0.0.1:PORT (python3 http.server)
#   zz_start_squid PORT SNIPPET starts Squid on 127.0.0.1:PORT with a generated squid.conf:
#                               SNIPPET comes before the final "allow localhost, deny all"
#                               rules; hosts in $ZZ_SCRATCH/hosts resolve through it
#   zz_start_icap PORT BIN SNIPPET
#                               starts c-icap on 127.0.0.1:PORT with a generated c-icap.conf
#                               loading the service srv_zazozor.so from BIN; SNIPPET (server
#                               sizes, log levels, zazozor.* directives) ends the file
#   zz_track_pid PID            stops PID (TERM, then KILL) at exit
#   zz_dump_logs                prints the Squid logs of the scratch folder (for failures)
#
# Squid runs in the foreground (-N) as a child of the script, with every file in the scratch
# folder; as root it drops to the user "proxy", which must then be able to read what the
# configuration names (zz_scratch makes the folder world-readable and hands it to "proxy").
ZZ_PIDS=()
ZZ_SCRATCH=
ZZ_SQUID_CONF=

zz_skip() {
  echo "SKIP: $*"
  exit 77
}

zz_track_pid() { ZZ_PIDS+=("$1"); }

zz_cleanup() {
  local pid
  if [[ -n $ZZ_SQUID_CONF && -f $ZZ_SCRATCH/squid.pid ]]; then
    squid -f "$ZZ_SQUID_CONF" -k shutdown >/dev/null 2>&1 || true
  fi
  for pid in "${ZZ_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${ZZ_PIDS[@]}"; do
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [[ -n $ZZ_SCRATCH && -z ${ZZ_KEEP_SCRATCH:-} ]]; then rm -rf "$ZZ_SCRATCH"; fi
}

zz_scratch() {
  ZZ_SCRATCH=$(mktemp -d /tmp/zz-proxy.XXXXXX)
  chmod 755 "$ZZ_SCRATCH"
  if [[ $(id -u) == 0 ]] && id proxy >/dev/null 2>&1; then chown proxy: "$ZZ_SCRATCH"; fi
  trap zz_cleanup EXIT
  trap 'exit 130' INT TERM
}

zz_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

zz_wait_port() {
  local port=$1 tries=$(( ${2:-10} * 10 ))
  while (( tries-- > 0 )); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  return 1
}

zz_start_origin() {
  local dir=$1 port=$2
  python3 -m http.server --bind 127.0.0.1 --directory "$dir" "$port" \
    >"$ZZ_SCRATCH/origin.log" 2>&1 &
  zz_track_pid $!
  zz_wait_port "$port" || { cat "$ZZ_SCRATCH/origin.log"; return 1; }
}

zz_start_squid() {
  local port=$1 snippet=$2 user=
  command -v squid >/dev/null || return 1
  [[ $(id -u) == 0 ]] && id proxy >/dev/null 2>&1 && user="cache_effective_user proxy"
  [[ -f $ZZ_SCRATCH/hosts ]] || : > "$ZZ_SCRATCH/hosts"
  ZZ_SQUID_CONF=$ZZ_SCRATCH/squid.conf
  cat > "$ZZ_SQUID_CONF" <<CONF
http_port 127.0.0.1:$port
visible_hostname zz-proxy-test
pid_filename $ZZ_SCRATCH/squid.pid
access_log stdio:$ZZ_SCRATCH/access.log
cache_log $ZZ_SCRATCH/cache.log
cache_store_log none
coredump_dir $ZZ_SCRATCH
cache deny all
cache_mem 4 MB
hosts_file $ZZ_SCRATCH/hosts
dns_nameservers 127.0.0.1
pinger_enable off
netdb_filename none
shutdown_lifetime 0 seconds
$user
$snippet
http_access allow localhost
http_access deny all
CONF
  squid -f "$ZZ_SQUID_CONF" -k parse >"$ZZ_SCRATCH/parse.log" 2>&1 ||
    { cat "$ZZ_SCRATCH/parse.log"; return 1; }
  squid -N -f "$ZZ_SQUID_CONF" >"$ZZ_SCRATCH/squid.out" 2>&1 &
  zz_track_pid $!
  zz_wait_port "$port" 20 || { zz_dump_logs; return 1; }
}

zz_start_icap() {
  local port=$1 bin=$2 snippet=$3 user=
  [[ $(id -u) == 0 ]] && id proxy >/dev/null 2>&1 && user=$'User proxy\nGroup proxy'
  cat > "$ZZ_SCRATCH/c-icap.conf" <<CONF
Port 127.0.0.1:$port
PidFile $ZZ_SCRATCH/c-icap.pid
CommandsSocket $ZZ_SCRATCH/c-icap.ctl
TmpDir $ZZ_SCRATCH
ServerLog $ZZ_SCRATCH/c-icap-server.log
StartServers 1
$user
ModulesDir /usr/lib/x86_64-linux-gnu/c_icap
ServicesDir $bin
Service zazozor srv_zazozor.so
$snippet
CONF
  c-icap -N -f "$ZZ_SCRATCH/c-icap.conf" >"$ZZ_SCRATCH/c-icap.out" 2>&1 &
  ZZ_ICAP_PID=$!
  zz_track_pid $ZZ_ICAP_PID
  zz_wait_port "$port" 20 || { cat "$ZZ_SCRATCH"/c-icap*; return 1; }
}

zz_dump_logs() {
  local f
  for f in squid.out cache.log access.log; do
    [[ -f $ZZ_SCRATCH/$f ]] && { echo "--- $f"; tail -n 40 "$ZZ_SCRATCH/$f"; }
  done
  return 0
}
