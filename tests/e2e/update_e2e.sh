#!/usr/bin/env bash
# The self-update in the real window: the update server offers another
# version, the prompt shows before the main window, OK replaces the program
# with the one the server hands out, confirms, starts the new one and ends.
# The program runs as a copy in a temporary folder, so the build output is
# never replaced; the "new program" is a small script that leaves a marker.

# The program hands the new one to the system to reap, and process 1 of some
# containers reaps nothing: this script makes itself the reaper of orphaned
# descendants (prctl PR_SET_CHILD_SUBREAPER, through perl, which Debian always
# has), and bash then reaps them, so the test leaves no zombie behind.
if [ -z "${VELMORA_E2E_REAPER:-}" ] && [ "$(uname -m)" = x86_64 ] && command -v perl >/dev/null; then
  export VELMORA_E2E_REAPER=1
  exec perl -e 'syscall(157, 36, 1, 0, 0, 0); exec @ARGV or die "exec: $!"' bash "$0" "$@"
fi

source "$(dirname "$0")/lib.sh"

# What the update server hands out as version 1.2.
new_program=$E2E_TMP/velmoraget.exe
marker=$E2E_TMP/new-program-ran
cat >"$new_program" <<EOF
#!/bin/sh
{ echo "\$0"; echo "\$#"; pwd; } >'$marker.tmp'
mv '$marker.tmp' '$marker'
EOF

e2e_start_display
e2e_make_workdir
program=$E2E_WORKDIR/velmora
cp "$VELMORA_BIN" "$program" || e2e_fail "cannot copy the program"

# The prompt comes before the main window is shown, so the program is started
# here rather than with e2e_start_program, which waits for the main window.
start_program_copy() {
  (cd "$E2E_WORKDIR" && exec "$program") >"$E2E_TMP/program.log" 2>&1 &
  E2E_PROGRAM_PID=$!
  E2E_PIDS+=("$E2E_PROGRAM_PID")
}

# Waits for a visible window of the program titled $1 (UTF-8) and prints its id.
wait_for_window_titled() {
  local title=$1 deadline id
  deadline=$(($(date +%s) + 60))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    e2e_alive "$E2E_PROGRAM_PID" || return 1
    for id in $(e2e_program_windows); do
      if [ "$(e2e_window_title "$id")" = "$title" ]; then echo "$id"; return 0; fi
    done
    sleep 0.2
  done
  return 1
}

# First the server offers version 1.2 but has no program to hand out: after
# OK the user is told, the old program stays, and its window comes up.
e2e_start_demo_site --latest-version 1.2 || e2e_fail "the update server did not start"
start_program_copy
prompt=$(wait_for_window_titled "软件需要更新") || e2e_fail "no update prompt"
e2e_focus "$prompt"
e2e_key Return
failure_box=$(wait_for_window_titled "更新失败") || e2e_fail "a failed download was not reported"
sleep 0.5
e2e_screenshot failed-download >/dev/null
e2e_focus "$failure_box"
e2e_key Return
e2e_wait_until 30 e2e_program_running || e2e_fail "the program did not run on after a failed download"
E2E_WINDOW=$(e2e_find_main_window)
cmp -s "$VELMORA_BIN" "$program" || e2e_fail "a failed download changed the program"
leftovers=$(cd "$E2E_WORKDIR" && ls -A | grep -v -x -e velmora -e cfg.ini)
[ -z "$leftovers" ] || e2e_fail "a failed download left files behind: $leftovers"
e2e_stop_pid "$E2E_PROGRAM_PID"
e2e_stop_pid "$E2E_DEMO_SITE_PID"

# Then it hands out a new program: OK replaces the program and restarts.
e2e_start_demo_site --latest-version 1.2 --new-program "$new_program" || e2e_fail "the update server did not start"
start_program_copy

prompt=$(wait_for_window_titled "软件需要更新") || e2e_fail "no update prompt"
sleep 0.5
e2e_screenshot prompt >/dev/null
[ -z "$(e2e_find_main_window)" ] || e2e_fail "the main window was shown before the update check ended"
e2e_focus "$prompt"
e2e_key Return

done_box=$(wait_for_window_titled "更新完成") || e2e_fail "no confirmation after OK"
sleep 0.5
e2e_screenshot confirmation >/dev/null
# Replaced before the confirmation shows: the new program under the old name,
# the old one beside it.
cmp -s "$new_program" "$program" || e2e_fail "the program was not replaced"
[ -x "$program" ] || e2e_fail "the new program is not executable"
cmp -s "$VELMORA_BIN" "$program.delete" || e2e_fail "the old program was not kept as velmora.delete"
e2e_focus "$done_box"
e2e_key Return

e2e_wait_until 20 e2e_not_alive "$E2E_PROGRAM_PID" || e2e_fail "the old program did not end after the update"
wait "$E2E_PROGRAM_PID" 2>/dev/null
status=$?
[ "$status" = 0 ] || e2e_fail "the old program ended with status $status"
e2e_wait_until 20 test -f "$marker" || e2e_fail "the new program was not started"
{ read -r argv0; read -r argc; read -r cwd; } <"$marker"
[ "$argv0" = "$program" ] || e2e_fail "the new program was started as '$argv0', not by its full path"
[ "$argc" = 0 ] || e2e_fail "the new program got $argc arguments"
[ "$cwd" = "$E2E_WORKDIR" ] || e2e_fail "the new program started in $cwd"
e2e_pass
