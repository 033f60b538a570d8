# shellcheck shell=bash
# End-to-end harness: the real program in a real window on a private X server
# (Xvfb), driven with xdotool, read back through the clipboard (xclip) and
# screenshots (ImageMagick). Source it from a tests/e2e/*_e2e.sh script:
#
#   source "$(dirname "$0")/lib.sh"
#   e2e_start_display                  # Xvfb on a free display; exports DISPLAY
#   e2e_start_demo_site                # optional: the demo site on its loopback port
#   e2e_write_settings '|*|http://...|owner'   # optional: a cfg.ini prepared for the run
#   e2e_start_program                  # the program, from a fresh working directory
#   e2e_click 80 27                    # client coordinates of the main window
#   e2e_type 'http://example'          # keyboard input to the focused control
#   e2e_key ctrl+a ctrl+c              # key chords, xdotool names
#   [ "$(e2e_clipboard)" = "..." ] || e2e_fail "..."
#   e2e_screenshot main-window         # $VELMORA_ARTIFACT_DIR/<test>-<name>.png
#   e2e_close_window                   # the close box
#   e2e_wait_program_exit 5 && [ "$E2E_PROGRAM_STATUS" = 0 ] || e2e_fail "..."
#   e2e_pass
#
# Helpers for the main window's controls: e2e_set_url_text / e2e_url_text
# (type into / read back the address box), e2e_click_at "$E2E_HELP_BUTTON_AT"
# (and the other E2E_*_AT places), e2e_click_album_row ROW [double]. Other
# windows of the program (message boxes, the folder dialog, the history menu)
# appear through e2e_wait_new_window and go with e2e_wait_only_main_window;
# e2e_window_title reads any window's title. e2e_read_history gives the
# history value of cfg.ini. e2e_fail inside $(...) ends only that subshell:
# test its status in the script itself.
#
# Environment (CTest passes every one of them, see tests/CMakeLists.txt):
#   VELMORA_BIN               the program
#   VELMORA_DEMO_SITE_BIN     the demo album site
#   VELMORA_ALBUM_SITE_HOST   host[:port] the program was built with for albums
#   VELMORA_UPDATE_SITE_HOST  host[:port] of the update server
#   VELMORA_ARTIFACT_DIR      where screenshots and logs are kept
#
# Variables the helpers set:
#   DISPLAY                 the private X display
#   E2E_WORKDIR             the program's working directory (cfg.ini lives here)
#   E2E_PROGRAM_PID         the running program
#   E2E_WINDOW              the X window id of the main window
#   E2E_DEMO_SITE_PID       the demo site, when started
#   E2E_PROGRAM_STATUS      the program's exit status (e2e_wait_program_exit)
#
# Every process the harness starts is recorded by pid and ended by that pid
# when the script exits (normally, on failure, or on a signal); the temporary
# folders go with them. Nothing is ended by name. Helpers that wait take a
# time-out and fail the test with its cause rather than hang.
#
# Facts of this X setup the helpers rely on: there is no window manager (a
# window is focused with windowfocus, never activated; it has no frame, so its
# X geometry is its client area); GTK sets the title only as UTF-8
# (_NET_WM_NAME), so windows are found by pid or class, not by a Chinese name;
# the clipboard lives in the program and dies with it.

set -uo pipefail

E2E_NAME=$(basename "${BASH_SOURCE[1]:-$0}" .sh)
E2E_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_PIDS=()
E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/velmora-e2e.XXXXXX")
E2E_WORKDIR=""
E2E_PROGRAM_PID=""
E2E_WINDOW=""
E2E_DEMO_SITE_PID=""
VELMORA_ARTIFACT_DIR=${VELMORA_ARTIFACT_DIR:-$E2E_TMP/artifacts}
mkdir -p "$VELMORA_ARTIFACT_DIR"
export GSETTINGS_BACKEND=memory   # no dconf daemon: keeps GTK dialogs quiet
export NO_AT_BRIDGE=1             # no accessibility bus under Xvfb

e2e_log() { printf '[%s] %s\n' "$E2E_NAME" "$*" >&2; }

# Fails the test with a message; keeps a screenshot and the program's output.
e2e_fail() {
  e2e_log "FAIL: $*"
  if [ -n "${DISPLAY:-}" ]; then e2e_screenshot "failure" >/dev/null 2>&1 || true; fi
  if [ -n "$E2E_WORKDIR" ] && [ -s "$E2E_TMP/program.log" ]; then
    e2e_log "program output:"
    sed 's/^/    /' "$E2E_TMP/program.log" >&2
  fi
  exit 1
}

e2e_pass() {
  e2e_log "PASS"
  exit 0
}

# Runs "$@" in the background, records its pid for clean-up, and puts the pid
# in E2E_LAST_PID. Output goes to the file named by E2E_OUTPUT (or is dropped).
e2e_spawn() {
  "$@" >"${E2E_OUTPUT:-/dev/null}" 2>&1 &
  E2E_LAST_PID=$!
  E2E_PIDS+=("$E2E_LAST_PID")
}

# True while PID runs (a child that ended but is not reaped yet counts as ended).
e2e_alive() {
  local state
  kill -0 "$1" 2>/dev/null || return 1
  state=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1)
  [ "$state" != Z ]
}

# Ends one process started here: TERM, then KILL after two seconds; reaps it.
e2e_stop_pid() {
  local pid=$1 i
  [ -n "$pid" ] || return 0
  if e2e_alive "$pid"; then
    kill -TERM "$pid" 2>/dev/null
    for i in $(seq 20); do e2e_alive "$pid" || break; sleep 0.1; done
    e2e_alive "$pid" && kill -KILL "$pid" 2>/dev/null
  fi
  wait "$pid" 2>/dev/null
  return 0
}

e2e_cleanup() {
  local i
  # Newest first: the program before its display.
  for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do e2e_stop_pid "${E2E_PIDS[$i]}"; done
  rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT
trap 'exit 130' INT TERM

# Waits until the command "$@" succeeds, polling every 0.1 s. Usage:
#   e2e_wait_until SECONDS command args...   (status 1 on time-out)
e2e_wait_until() {
  local seconds=$1 deadline
  shift
  deadline=$(($(date +%s%N) + seconds * 1000000000))
  until "$@"; do
    [ "$(date +%s%N)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# Starts Xvfb on a display it picks itself (-displayfd) and exports DISPLAY.
e2e_start_display() {
  local fd_file=$E2E_TMP/display
  : >"$fd_file"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fd_file" >"$E2E_TMP/xvfb.log" 2>&1 &
  E2E_PIDS+=("$!")
  local xvfb=$!
  e2e_wait_until 20 test -s "$fd_file" || e2e_fail "Xvfb did not start: $(cat "$E2E_TMP/xvfb.log")"
  e2e_alive "$xvfb" || e2e_fail "Xvfb ended: $(cat "$E2E_TMP/xvfb.log")"
  export DISPLAY=":$(tr -dc 0-9 <"$fd_file")"
  e2e_log "display $DISPLAY"
}

# True when the update/demo host answers HTTP.
e2e_demo_site_answers() {
  curl -s -o /dev/null --max-time 2 "http://${VELMORA_UPDATE_SITE_HOST}/quillbay/velmoraget/banner.htm"
}

e2e_demo_site_up() {
  e2e_alive "$E2E_DEMO_SITE_PID" || return 0  # ended: stop waiting
  e2e_demo_site_answers
}

# Starts the demo site (arguments are passed on) and waits until it answers.
# Status 1 (no failure) when it does not come up: the caller decides whether
# the test needs it.
e2e_start_demo_site() {
  [ -x "${VELMORA_DEMO_SITE_BIN:-}" ] || { e2e_log "no demo site binary"; return 1; }
  E2E_OUTPUT=$E2E_TMP/demo-site.log e2e_spawn "$VELMORA_DEMO_SITE_BIN" "$@"
  E2E_DEMO_SITE_PID=$E2E_LAST_PID
  if ! e2e_wait_until 15 e2e_demo_site_up || ! e2e_demo_site_answers; then
    e2e_log "the demo site does not answer on ${VELMORA_UPDATE_SITE_HOST}: $(cat "$E2E_TMP/demo-site.log")"
    e2e_stop_pid "$E2E_DEMO_SITE_PID"
    E2E_DEMO_SITE_PID=""
    return 1
  fi
}

# Prepares the working directory the program will start in (created on first
# use) and writes a cfg.ini holding the history value given (UTF-8 here,
# stored as GBK like the program stores it).
e2e_make_workdir() {
  [ -n "$E2E_WORKDIR" ] || { E2E_WORKDIR=$E2E_TMP/work; mkdir -p "$E2E_WORKDIR"; }
}
e2e_write_settings() {
  e2e_make_workdir
  printf '[ls]\r\nls=%s\r\n' "$1" | iconv -f UTF-8 -t GBK >"$E2E_WORKDIR/cfg.ini" ||
    e2e_fail "cannot write cfg.ini"
}

# The history value of cfg.ini, in UTF-8 (empty when there is none).
e2e_read_history() {
  [ -f "$E2E_WORKDIR/cfg.ini" ] || return 0
  iconv -f GBK -t UTF-8 "$E2E_WORKDIR/cfg.ini" | tr -d '\r' | sed -n 's/^[Ll][Ss][ \t]*=//p' | head -1
}

# The visible main window of the program (by pid and its ASCII title).
e2e_find_main_window() {
  xdotool search --all --onlyvisible --pid "$E2E_PROGRAM_PID" --name '^Velmora' 2>/dev/null | head -1
}

# Every visible top-level window of the program, one id a line.
e2e_program_windows() {
  xdotool search --onlyvisible --pid "$E2E_PROGRAM_PID" 2>/dev/null
}

# Starts the program in E2E_WORKDIR and waits (up to 60 s) for its window.
e2e_start_program() {
  e2e_make_workdir
  [ -x "${VELMORA_BIN:-}" ] || e2e_fail "VELMORA_BIN is not a program: ${VELMORA_BIN:-unset}"
  (cd "$E2E_WORKDIR" && exec "$VELMORA_BIN") >"$E2E_TMP/program.log" 2>&1 &
  E2E_PROGRAM_PID=$!
  E2E_PIDS+=("$E2E_PROGRAM_PID")
  local deadline=$(($(date +%s) + 60))
  E2E_WINDOW=""
  while [ -z "$E2E_WINDOW" ]; do
    e2e_alive "$E2E_PROGRAM_PID" || e2e_fail "the program ended before its window appeared"
    [ "$(date +%s)" -lt "$deadline" ] || e2e_fail "no window after 60 s"
    sleep 0.2
    E2E_WINDOW=$(e2e_find_main_window)
  done
  # The window maps before GTK has laid it out and drawn it.
  sleep 1
  e2e_focus
  e2e_log "program $E2E_PROGRAM_PID, window $E2E_WINDOW"
}

# True while the program runs and its main window is visible.
e2e_program_running() {
  e2e_alive "$E2E_PROGRAM_PID" && [ -n "$(e2e_find_main_window)" ]
}

# Waits (up to SECONDS, default 10) for the program to end and puts its exit
# status in E2E_PROGRAM_STATUS. Status 1 on time-out. Call it directly, not in
# $(...): only this shell can collect the status of its child.
e2e_wait_program_exit() {
  E2E_PROGRAM_STATUS=""
  e2e_wait_until "${1:-10}" e2e_not_alive "$E2E_PROGRAM_PID" || return 1
  wait "$E2E_PROGRAM_PID" 2>/dev/null
  E2E_PROGRAM_STATUS=$?
}

e2e_not_alive() { ! e2e_alive "$1"; }

e2e_focus() { xdotool windowfocus --sync "${1:-$E2E_WINDOW}" >/dev/null 2>&1 || true; }

# Clicks at client coordinates X Y of WINDOW (default: the main window).
e2e_click() {
  xdotool mousemove --window "${3:-$E2E_WINDOW}" "$1" "$2" click 1 || e2e_fail "click at $1,$2 failed"
  sleep 0.3
}
e2e_double_click() {
  xdotool mousemove --window "${3:-$E2E_WINDOW}" "$1" "$2" click --repeat 2 --delay 80 1 ||
    e2e_fail "double click at $1,$2 failed"
  sleep 0.3
}

# Types TEXT into the focused control.
e2e_type() {
  xdotool type --delay 20 -- "$1" || e2e_fail "typing failed"
  sleep 0.2
}

# Presses and releases each key chord in turn (xdotool names: Return,
# ctrl+Return, Escape, ctrl+a ...).
e2e_key() {
  xdotool key --delay 80 "$@" || e2e_fail "key $* failed"
  sleep 0.3
}

# The clipboard's text (UTF-8), while the program that owns it runs.
e2e_clipboard() {
  timeout 5 xclip -o -selection clipboard 2>/dev/null
}

# The title of WINDOW (UTF-8).
e2e_window_title() {
  xdotool getwindowname "${1:-$E2E_WINDOW}" 2>/dev/null
}

# Prints "WIDTH HEIGHT" of WINDOW (the X window, which without a window
# manager has no frame).
e2e_window_size() {
  local WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "${1:-$E2E_WINDOW}")"
  echo "$WIDTH $HEIGHT"
}

# Waits (up to SECONDS, default 10) for a new visible window of the program,
# other than the main window, and prints its id.
e2e_wait_new_window() {
  local seconds=${1:-10} deadline id
  deadline=$(($(date +%s%N) + seconds * 1000000000))
  while [ "$(date +%s%N)" -lt "$deadline" ]; do
    for id in $(e2e_program_windows); do
      if [ "$id" != "$E2E_WINDOW" ]; then echo "$id"; return 0; fi
    done
    sleep 0.1
  done
  return 1
}

# Waits (up to SECONDS, default 10) until the program shows no window but the
# main one.
e2e_wait_only_main_window() {
  local seconds=${1:-10} deadline id others
  deadline=$(($(date +%s%N) + seconds * 1000000000))
  while [ "$(date +%s%N)" -lt "$deadline" ]; do
    others=0
    for id in $(e2e_program_windows); do [ "$id" = "$E2E_WINDOW" ] || others=1; done
    [ $others = 0 ] && return 0
    sleep 0.1
  done
  return 1
}

# Asks WINDOW (default: the main window) to close, as its close box would.
# The helper program is built on first use from close_window.c.
e2e_close_window() {
  local tool=$E2E_TMP/close_window
  if [ ! -x "$tool" ]; then
    cc -O -o "$tool" "$E2E_LIB_DIR/close_window.c" -lX11 2>"$E2E_TMP/close_window.log" ||
      e2e_fail "cannot build close_window: $(cat "$E2E_TMP/close_window.log")"
  fi
  "$tool" "${1:-$E2E_WINDOW}" || e2e_fail "close request not sent"
}

# Places in the main window (client coordinates, pixels): the middle of each
# control, and the album list's box.
E2E_HISTORY_LINK_AT="67 30"
E2E_URL_BOX_AT="209 29"
E2E_ENTER_BUTTON_AT="372 29"
E2E_HELP_BUTTON_AT="419 29"
E2E_ALBUM_LIST_BOX="8 55 300 240"    # x y width height, column headers included
E2E_PREVIEW_BOX="315 55 120 240"
E2E_ALBUM_LIST_HEADER=25              # height of the column headers
E2E_ALBUM_ROW_HEIGHT=23               # height of one row (GTK theme, WenQuanYi font)

# Clicks a control by its E2E_*_AT place: e2e_click_at "$E2E_HELP_BUTTON_AT".
e2e_click_at() {
  # shellcheck disable=SC2086
  e2e_click $1
}

# Clicks row ROW (from 0) of the album list, near its left end; "double" as a
# second argument makes it a double click. ROW -1 clicks the empty space at
# the bottom of the list.
e2e_click_album_row() {
  local row=$1 y
  if [ "$row" -lt 0 ]; then
    y=$((55 + 240 - 12))
  else
    y=$((55 + E2E_ALBUM_LIST_HEADER + row * E2E_ALBUM_ROW_HEIGHT + E2E_ALBUM_ROW_HEIGHT / 2))
  fi
  if [ "${2:-}" = double ]; then e2e_double_click 40 "$y"; else e2e_click 40 "$y"; fi
}

# The text of the address box, read through the clipboard (click, select all,
# copy). Leaves the focus in the box.
e2e_url_text() {
  e2e_click_at "$E2E_URL_BOX_AT" >&2
  e2e_key ctrl+a ctrl+c >&2
  e2e_clipboard
}

# Replaces the text of the address box by typing TEXT.
e2e_set_url_text() {
  e2e_click_at "$E2E_URL_BOX_AT"
  e2e_key ctrl+a BackSpace
  e2e_type "$1"
}

# Saves a screenshot as $VELMORA_ARTIFACT_DIR/<test>-NAME.png and prints its
# path. With a WINDOW id only that window is taken; otherwise the whole screen
# (popup menus and dialogs are separate windows).
e2e_screenshot() {
  local file=$VELMORA_ARTIFACT_DIR/$E2E_NAME-$1.png
  if [ -n "${2:-}" ]; then
    import -window "$2" "$file" 2>/dev/null || return 1
  else
    import -window root "$file" 2>/dev/null || return 1
  fi
  e2e_log "screenshot $file"
  echo "$file"
}
