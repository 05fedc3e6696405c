#!/usr/bin/env bash
# Speed and memory of reading mail into the rule engine's message model, against SpamAssassin
# reading the same mails, in one run: COUNT mails (default 500) of the SpamAssassin public
# corpus (fetched and picked by bench/corpus.sh: the mails whose file names have the
# smallest MD5).
#
#   bench/mail_vs_spamassassin.sh BIN [COUNT]        (BIN: the folder of zazozor)
#
# Rows (each one process over all the mails; wall and CPU seconds, messages per CPU second,
# peak resident memory, from /usr/bin/time):
#   zazozor parse          zazozor mail --no-rules: MIME parsing, decoding, charsets, HTML
#                          parsing, summaries and header signatures, one JSON line per mail
#   zazozor parse+rules    zazozor mail --rules data/rules/mail_sign.slf: the same plus the
#                          sample mail rules (regexes, phrases, the word finder, heuristics)
#   SpamAssassin parse     Mail::SpamAssassin->parse, the rendered and visible body texts and
#                          the URIs of each mail (its own MIME parse and HTML rendering)
#   SpamAssassin check     ->check of each mail with the stock rules, network tests off
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:?usage: mail_vs_spamassassin.sh BIN [COUNT]}" && pwd)
count=${2:-500}
scratch=$(mktemp -d /tmp/zz-mailbench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# shellcheck source=bench/corpus.sh
source "$root/bench/corpus.sh"
bench_need spamassassin:spamassassin /usr/bin/time:time npm:npm

corpus_pick "$count" > "$scratch/mails.txt"
count=$(wc -l < "$scratch/mails.txt")
mapfile -t mails < "$scratch/mails.txt"
bytes=$(cat "${mails[@]}" | wc -c)

cat > "$scratch/sa.pl" <<'PERL'
use strict; use warnings;
use Mail::SpamAssassin;
my ($mode, $list) = @ARGV;
my $sa = Mail::SpamAssassin->new({local_tests_only => 1, dont_copy_prefs => 1,
                                  userprefs_filename => '/dev/null'});
$sa->init(1) if $mode eq 'check';
open(my $files, '<', $list) or die;
my $n = 0;
while (my $path = <$files>) {
  chomp $path;
  open(my $in, '<:raw', $path) or die "$path: $!";
  local $/; my $text = <$in>; close $in;
  my $msg = $sa->parse($text, 1);
  if ($mode eq 'check') {
    my $status = $sa->check($msg); $status->finish;
  } else {
    $msg->get_rendered_body_text_array(); $msg->get_visible_rendered_body_text_array();
    $msg->get_uri_detail_list() if $msg->can('get_uri_detail_list');
  }
  $msg->finish; $n++;
}
print STDERR "$n messages\n";
PERL

# One row: name, then the command; its output is thrown away.
row() {
  local name=$1; shift
  /usr/bin/time -f "%e %U %S %M" -o "$scratch/time" "$@" >/dev/null 2>"$scratch/err" || {
    echo "$name failed:"; tail -3 "$scratch/err"; return; }
  read -r wall user sys rss < "$scratch/time"
  awk -v n="$name" -v c="$count" -v w="$wall" -v u="$user" -v s="$sys" -v m="$rss" 'BEGIN {
    cpu = u + s; printf "%-22s %8.2f %8.2f %10.0f %10.1f\n", n, w, cpu, (cpu > 0 ? c / cpu : 0), m / 1024 }'
}
export ZAZOZOR_TRACE_LEVEL=off
echo "$count mails, $((bytes / 1024)) KiB; $(nproc) cores"
printf "%-22s %8s %8s %10s %10s\n" "" "wall s" "cpu s" "mails/cpu s" "peak MiB"
row "zazozor parse" "$bin/zazozor" mail --no-rules "${mails[@]}"
row "zazozor parse+rules" "$bin/zazozor" mail --rules "$root/data/rules/mail_sign.slf" "${mails[@]}"
row "SpamAssassin parse" perl "$scratch/sa.pl" parse "$scratch/mails.txt"
row "SpamAssassin check" perl "$scratch/sa.pl" check "$scratch/mails.txt"
