#!/usr/bin/env bash
# The main window as a user meets it: it appears with its title and width;
# Enter released in the address box (whatever the modifiers) runs the address
# check, which completes a missing "http://", while its press does nothing and
# Esc leaves the box and the window alone; an address of the demo site lists
# its albums and lands in cfg.ini; a click on a row puts the preview card on
# the clipboard and a double click asks for a folder; the help button shows
# the usage text; the history link offers the addresses of cfg.ini and
# picking one fills the address box; closing the window while photos are
# downloading ends the program at once.
source "$(dirname "$0")/lib.sh"

host=${VELMORA_ALBUM_SITE_HOST:-localhost:47180}
alice=http://$host/photos/alice/albums/
bob=http://$host/photos/bob/albums/
prepared="|*|${bob}|陈默|*|http://$host/photos/nobody/albums/|"

e2e_start_display
e2e_start_demo_site || e2e_fail "the demo site did not start"
e2e_write_settings "$prepared"
# The folder dialog opens at the program's own folder: a copy in the working
# folder keeps the downloads of this test inside it.
cp "$VELMORA_BIN" "$E2E_WORKDIR/velmora" || e2e_fail "cannot copy the program"
VELMORA_BIN=$E2E_WORKDIR/velmora
e2e_start_program

title=$(e2e_window_title)
[ "$title" = "Velmora1.1" ] || e2e_fail "title is '$title'"
read -r width height < <(e2e_window_size)
[ "$width" = 450 ] || e2e_fail "width is $width, not 450"
[ "$height" -ge 300 ] || e2e_fail "height is only $height"
# The start-up loaded the history and wrote it back unchanged.
[ "$(e2e_read_history)" = "$prepared" ] || e2e_fail "cfg.ini history changed at start-up: $(e2e_read_history)"

# Enter is taken on its release: pressed, nothing happens; released, the
# address check puts the missing scheme in front.
e2e_set_url_text "nowhere"
xdotool keydown Return
sleep 0.5
text=$(e2e_url_text)
xdotool keyup Return
[ "$text" = "nowhere" ] || e2e_fail "the press of Enter already changed the box to '$text'"
e2e_click_at "$E2E_URL_BOX_AT"
xdotool keydown Return
sleep 0.3
xdotool keyup Return
sleep 0.3
text=$(e2e_url_text)
[ "$text" = "http://nowhere" ] || e2e_fail "the release of Enter did not reach the address check: '$text'"

# With any modifier too; Esc changes nothing; no key closes the window.
for chord in ctrl+Return shift+Return alt+Return KP_Enter Escape; do
  e2e_set_url_text "nowhere"
  e2e_key "$chord"
  e2e_program_running || e2e_fail "the window went after $chord"
  text=$(e2e_url_text)
  if [ "$chord" = Escape ]; then expected="nowhere"; else expected="http://nowhere"; fi
  [ "$text" = "$expected" ] || e2e_fail "after $chord the box holds '$text', not '$expected'"
done

# An album address without scheme, opened with Enter: the albums are listed
# and the address is remembered in front of the prepared history.
e2e_set_url_text "${alice#http://}"
e2e_key Return
remembered() { [ "$(e2e_read_history)" = "|*|${alice}|林小雨${prepared}" ]; }
e2e_wait_until 30 remembered || e2e_fail "the album list was not remembered; cfg.ini holds: $(e2e_read_history)"
sleep 0.5
e2e_screenshot main-window "$E2E_WINDOW" >/dev/null || e2e_fail "no screenshot"

# A click on the first row: its preview card goes to the clipboard.
e2e_click_album_row 0
preview_on_clipboard() { e2e_clipboard | grep -q "/photos/alice/albums/10231/"; }
e2e_wait_until 10 preview_on_clipboard || e2e_fail "no preview card of the first album on the clipboard: $(e2e_clipboard | head -c 300)"
e2e_screenshot preview >/dev/null
# A double click on it asks for a folder; Esc cancels.
sleep 0.6
e2e_click_album_row 0 double
dialog=$(e2e_wait_new_window 10) || e2e_fail "a double click on a row asked for no folder"
e2e_screenshot folder-dialog >/dev/null
e2e_focus "$dialog"
e2e_key Escape
e2e_wait_only_main_window 10 || e2e_fail "the folder dialog did not close"
e2e_program_running || e2e_fail "the window went with the folder dialog"

# Help: a message box titled "使用教程" with the usage text (its label can
# be selected and copied).
e2e_focus
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

# History: the link opens the menu (alice, bob, the entry without owner
# name); an entry puts its address in the box, the one without owner name
# changes nothing. Items are picked with the space bar: a Return would pick
# too, but its release then reaches the address box and runs the check.
e2e_focus
e2e_set_url_text "typed"
e2e_click_at "$E2E_HISTORY_LINK_AT"
e2e_wait_new_window 10 >/dev/null || e2e_fail "the history link opened no menu"
e2e_screenshot history-menu >/dev/null
e2e_key Down Down space
e2e_wait_only_main_window 10 || e2e_fail "the menu stayed open"
text=$(e2e_url_text)
[ "$text" = "$bob" ] || e2e_fail "after picking the second entry the box holds '$text'"

e2e_set_url_text "typed"
e2e_click_at "$E2E_HISTORY_LINK_AT"
e2e_wait_new_window 10 >/dev/null || e2e_fail "the history link opened no menu the second time"
e2e_key Down Down Down space
e2e_wait_only_main_window 10 || e2e_fail "the menu stayed open"
text=$(e2e_url_text)
[ "$text" = "typed" ] || e2e_fail "an entry without owner name changed the box to '$text'"

# A double click on the first album (19 photos) and OK in the folder dialog
# start the download; the close box then ends the program at once, with exit
# code 0, whatever the download threads are doing.
e2e_click_album_row 0 double
dialog=$(e2e_wait_new_window 10) || e2e_fail "a double click on a row asked for no folder"
e2e_focus "$dialog"
e2e_key Return
album_folder=$E2E_WORKDIR/西湖春游
e2e_wait_until 10 test -d "$album_folder" || e2e_fail "the download made no album folder in $E2E_WORKDIR: $(ls "$E2E_WORKDIR" | od -c | head)"
e2e_close_window
e2e_wait_program_exit 5 || e2e_fail "the program still runs 5 s after the close request"
[ "$E2E_PROGRAM_STATUS" = 0 ] || e2e_fail "exit status $E2E_PROGRAM_STATUS"
e2e_log "closed with $(ls "$album_folder" | wc -l) of 19 photos in the album folder"

e2e_pass
