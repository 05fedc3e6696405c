# Shell function for the benchmarks that compare with squidGuard: source it.

# squidguard_setup WORKLOAD WORK: writes WORK/sg/squidGuard.conf with the workload's black and
# white lists as squidGuard domain lists (a leading "www." dropped, as squidGuard matches
# domains and their subdomains), ready for "squidGuard -c WORK/sg/squidGuard.conf -C all".
squidguard_setup() {
  local workload=$1 work=$2
  mkdir -p "$work/sg/db/black" "$work/sg/db/white" "$work/sg/log"
  grep -v '^#' "$workload/black.txt" | sed 's/^www\.//' > "$work/sg/db/black/domains"
  grep -v '^#' "$workload/white.txt" | sed 's/^www\.//' > "$work/sg/db/white/domains"
  cat > "$work/sg/squidGuard.conf" <<CONF
dbhome $work/sg/db
logdir $work/sg/log
dest white {
  domainlist white/domains
}
dest black {
  domainlist black/domains
}
acl {
  default {
    pass white !black all
    redirect http://blocked.invalid/
  }
}
CONF
}
