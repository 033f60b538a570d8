#!/usr/bin/env bash
# The demo site program as the run command starts it: it prints its ready
# line, answers both address forms through curl, refuses a port that is
# taken, offers an update when told to, and ends cleanly on SIGTERM.
set -euo pipefail
bin=${VELMORA_DEMO_SITE_BIN:?VELMORA_DEMO_SITE_BIN names the velmora-demo-site program}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "demo_site_e2e: a command failed at line $LINENO" >&2' ERR
fail() { echo "demo_site_e2e: $*" >&2; exit 1; }

# Starts the site with the given arguments, output into $work/$1.out; waits
# for the ready line and sets site_pid and site_port (empty without the line).
start_site() {
  local name=$1; shift
  "$bin" "$@" >"$work/$name.out" 2>&1 &
  site_pid=$!
  pids+=("$site_pid")
  for _ in $(seq 100); do
    grep -q 'serving on' "$work/$name.out" && break
    sleep 0.1
  done
  site_port=$(sed -n 's|.*serving on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/$name.out" | head -1)
}

# A free port rather than the demo's own: a site of another checkout may hold
# that one on this machine.
start_site main --port 0
port=$site_port
main_pid=$site_pid
[ -n "$port" ] || fail "no ready line: $(cat "$work/main.out")"

list=$(curl -sf "http://localhost:$port/photos/alice/albums/") || fail "no album list in the path form"
sub=$(curl -sf "http://alice.localhost:$port/") || fail "no album list in the sub-domain form"
[ "$list" = "$sub" ] || fail "the two address forms give different lists"
albums=$(grep -c '<div class="Sets">' <<<"$list" || true)
[ "$albums" = 4 ] || fail "expected 4 albums, found $albums"
grep -q '<title>林小雨的相册</title>' <<<"$list" || fail "the owner's title is missing"

curl -sf "http://127.0.0.1:$port/quillbay/velmoraget/banner.htm" -o "$work/banner.htm" || fail "no update page"
banner=$(iconv -f GBK -t UTF-8 "$work/banner.htm") || fail "the update page is not GBK"
grep -q '最新版本：1.1<' <<<"$banner" || fail "the update page does not offer 1.1"
# Whole answers go to files first: a reader that stops early would break the
# pipe under pipefail.
curl -sf "http://localhost:$port/photos/alice/albums/10231/1023101/big.jpg" -o "$work/big.jpg" || fail "no picture"
magic=$(od -An -tx1 -N3 "$work/big.jpg" | tr -d ' ')
[ "$magic" = ffd8ff ] || fail "the picture is no JPEG (starts $magic)"

# A second site on the same port is refused, and says so.
if timeout 10 "$bin" --port "$port" >"$work/second.out" 2>&1; then fail "a second site took port $port"; fi
grep -q "cannot listen" "$work/second.out" || fail "the refused site gave no reason: $(cat "$work/second.out")"
if "$bin" --colour blue >/dev/null 2>&1; then fail "an unknown option was accepted"; fi

# An update on offer: another version and the new program's bytes.
printf 'new program \0 bytes' >"$work/new.exe"
start_site update --port 0 --latest-version 1.2 --new-program "$work/new.exe"
other=$site_port
[ -n "$other" ] || fail "the update site did not start: $(cat "$work/update.out")"
curl -sf "http://127.0.0.1:$other/quillbay/velmoraget/banner.htm" -o "$work/banner2.htm" || fail "no update page"
grep -q '最新版本：1.2<' <(iconv -f GBK -t UTF-8 "$work/banner2.htm") || fail "the update page does not offer 1.2"
curl -sf "http://127.0.0.1:$other/quillbay/velmoraget/velmoraget.exe" -o "$work/got.exe" || fail "no new program"
cmp -s "$work/new.exe" "$work/got.exe" || fail "the new program arrived changed"

kill -TERM "$main_pid"
status=0
wait "$main_pid" || status=$?
[ "$status" = 0 ] || fail "the site ended with status $status on SIGTERM"
echo "demo_site_e2e: passed"
