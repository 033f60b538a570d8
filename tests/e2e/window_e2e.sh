#!/usr/bin/env bash
# The main window as a user meets it: it appears with its title and width;
# Enter (with or without modifiers) and Esc in the address box leave it open;
# the help button shows the usage text; the history link offers the addresses
# of cfg.ini and picking one fills the address box; closing the window ends
# the program at once.
source "$(dirname "$0")/lib.sh"

album=http://localhost:47180/photos/alice/albums/
e2e_start_display
e2e_write_settings "|*|${album}|爱丽丝|*|http://localhost:47180/photos/bob/albums/|"
e2e_start_program

title=$(e2e_window_title)
[ "$title" = "Velmora1.1" ] || e2e_fail "title is '$title'"
read -r width height < <(e2e_window_size)
[ "$width" = 450 ] || e2e_fail "width is $width, not 450"
[ "$height" -ge 300 ] || e2e_fail "height is only $height"
e2e_screenshot main-window "$E2E_WINDOW" >/dev/null || e2e_fail "no screenshot"
# The start-up rewrote the history in its normalised form, and kept it.
[ "$(e2e_read_history)" = "|*|${album}|爱丽丝|*|http://localhost:47180/photos/bob/albums/|" ] ||
  e2e_fail "cfg.ini history changed at start-up: $(e2e_read_history)"

# Enter is taken on its release and never closes the window; neither does
# Esc, and no key puts a line break into the box.
e2e_set_url_text "not an address"
for chord in Return ctrl+Return shift+Return alt+Return KP_Enter Escape; do
  e2e_key "$chord"
  sleep 0.3
  e2e_program_running || e2e_fail "the window went after $chord"
done
text=$(e2e_url_text)
[ "$text" = "not an address" ] || e2e_fail "the address box holds '$text' after the keys"

# Help: a message box titled "使用教程" with the usage text (its label can
# be selected and copied).
e2e_click_at "$E2E_HELP_BUTTON_AT"
box=$(e2e_wait_new_window 10) || e2e_fail "no help box"
box_title=$(e2e_window_title "$box")
[ "$box_title" = "使用教程" ] || e2e_fail "help box title is '$box_title'"
e2e_screenshot help-box >/dev/null
e2e_focus "$box"
e2e_key Tab ctrl+a ctrl+c
expected_help=$'1.输入相册完整网址\n2.单击查看缩略图，双击下载\n3.不懂别问我'
help=$(e2e_clipboard)
[ "$help" = "$expected_help" ] || e2e_fail "help text is '$help'"
e2e_key Return
e2e_wait_only_main_window 10 || e2e_fail "the help box did not close"
e2e_program_running || e2e_fail "the window went with the help box"

# History: the link opens the menu of cfg.ini's entries; the first puts its
# address in the box, the second (no owner name) changes nothing.
e2e_focus
e2e_click_at "$E2E_HISTORY_LINK_AT"
menu=$(e2e_wait_new_window 10) || e2e_fail "the history link opened no menu"
e2e_screenshot history-menu >/dev/null
e2e_key Down Return
e2e_wait_only_main_window 10 || e2e_fail "the menu stayed open"
text=$(e2e_url_text)
[ "$text" = "$album" ] || e2e_fail "after picking the first entry the box holds '$text'"

e2e_set_url_text "typed"
e2e_click_at "$E2E_HISTORY_LINK_AT"
e2e_wait_new_window 10 >/dev/null || e2e_fail "the history link opened no menu the second time"
e2e_key Down Down Return
e2e_wait_only_main_window 10 || e2e_fail "the menu stayed open"
text=$(e2e_url_text)
[ "$text" = "typed" ] || e2e_fail "an entry without owner name changed the box to '$text'"

# The close box ends the program at once, with exit code 0.
e2e_close_window
e2e_wait_program_exit 10 || e2e_fail "the program still runs 10 s after the close request"
[ "$E2E_PROGRAM_STATUS" = 0 ] || e2e_fail "exit status $E2E_PROGRAM_STATUS"

e2e_pass
