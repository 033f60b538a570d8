#!/usr/bin/env bash
# The album catalogue as a user meets it: type an album-list address in each
# accepted form, press Enter, see the albums listed and remembered in cfg.ini,
# click an album to get its preview card (read back from the clipboard), and
# find that a wrong address leaves the list as it was. Keeps a screenshot of
# the listed albums with the preview card.
source "$(dirname "$0")/lib.sh"

album_host=$VELMORA_ALBUM_SITE_HOST

# Client coordinates (the window lays its controls out at 1.5 pixels per
# dialog unit): the address box, and a column of the album list.
url_box_x=150
url_box_y=29
row_x=100        # inside the title column
first_row_y=""   # the middle of row 0 and the height of a row: find_rows
row_height=""

e2e_start_display
e2e_start_demo_site || e2e_fail "the demo site is needed and did not start"
# Another demo site on the same port would answer in its place and may go away.
e2e_alive "$E2E_DEMO_SITE_PID" ||
  e2e_fail "the demo site ended at once: port ${VELMORA_UPDATE_SITE_HOST##*:} is taken by another process"
e2e_start_program

# Replaces the address box's text with TEXT and releases Enter in it.
enter_address() {
  e2e_click "$url_box_x" "$url_box_y"
  e2e_key ctrl+a BackSpace
  e2e_type "$1"
  e2e_key Return
}

# The address box's text, through the clipboard.
address_box_text() {
  e2e_click "$url_box_x" "$url_box_y"
  e2e_key ctrl+a ctrl+c
  e2e_clipboard
}

history_holds() { e2e_read_history | grep -qF -- "|*|$1"; }

clipboard_holds() { e2e_clipboard | grep -qF -- "$1"; }

# Clicks row N (0-based) of the album list.
click_row() { e2e_click "$row_x" $((first_row_y + $1 * row_height)); }

# The list's geometry, which depends on the fonts GTK picks: clicking down
# the list 2 px at a time finds where the first and the second album start.
# Until the first row, clicks land on the header and preview nothing.
find_rows() {
  local y page top0="" top1=""
  for y in $(seq 60 2 170); do
    e2e_click "$row_x" "$y"
    page=$(e2e_clipboard)
    if [ -z "$top0" ] && grep -qF "/albums/10231/'>" <<<"$page"; then top0=$y; fi
    if [ -n "$top0" ] && grep -qF "/albums/10232/'>" <<<"$page"; then top1=$y; break; fi
  done
  [ -n "$top1" ] || return 1
  row_height=$((top1 - top0))
  first_row_y=$((top0 + row_height / 2))
}

# --- path form, typed without the scheme ----------------------------------
enter_address "$album_host/photos/alice/albums/"
e2e_wait_until 15 history_holds "http://$album_host/photos/alice/albums/|林小雨" ||
  e2e_fail "cfg.ini did not gain the path-form entry; history: $(e2e_read_history)"
[ "$(address_box_text)" = "http://$album_host/photos/alice/albums/" ] ||
  e2e_fail "the box does not show the completed address: $(address_box_text)"

find_rows || e2e_fail "clicks down the list did not find its first two rows"
e2e_log "rows from y=$first_row_y, $row_height px apart"

# The preview of the first album, exactly: the head with CR LF line ends, and
# the card's body.
click_row 0
e2e_wait_until 5 clipboard_holds "/albums/10231/'>" || e2e_fail "no preview of the first album"
page=$(e2e_clipboard)
case "$page" in
  '<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Transitional//EN"'*) ;;
  *) e2e_fail "the preview page does not start with its document type: ${page:0:120}" ;;
esac
[ "$(printf '%s' "$page" | head -1 | tr -dc '\r' | wc -c)" = 1 ] ||
  e2e_fail "the head's lines do not end in CR LF"
body_expected="<body> <DIV class=Sets> <DIV class=SetCase><A target=blank href=http://$album_host/photos/alice/albums/10231/><IMG class=setThumb alt='' src='http://$album_host/photos/alice/albums/10231/1023101/square.jpg' width=75 height=75></A> </DIV> <H4><A target=blank class=Seta href='http://$album_host/photos/alice/albums/10231/'>西湖春游</A></H4> <P><B>19张图片</B> </P></DIV></BODY></HTML>"
[ "$(printf '%s' "$page" | tail -1)" = "$body_expected" ] ||
  e2e_fail "the preview body differs: $(printf '%s' "$page" | tail -1)"

# The album whose title holds character references: they reach the page as
# the site wrote them.
click_row 1
e2e_wait_until 5 clipboard_holds "/albums/10232/'>春节 &amp; 元宵 &#183; 合家欢</A>" ||
  e2e_fail "the second album's preview is wrong: $(e2e_clipboard | tail -1)"

# The album whose cover the site names in src_data only.
click_row 2
e2e_wait_until 5 clipboard_holds "src='http://$album_host/photos/alice/albums/10240/1024001/square.jpg'" ||
  e2e_fail "the third album's cover is missing: $(e2e_clipboard | tail -1)"

# The card as the user sees it, beside the listed albums.
click_row 0
e2e_wait_until 5 clipboard_holds "/albums/10231/'>" || e2e_fail "no preview of the first album"
sleep 2   # the view loads the cover and the frame picture
e2e_screenshot albums-with-preview "$E2E_WINDOW" >/dev/null || e2e_fail "no screenshot"

# --- sub-domain form -------------------------------------------------------
enter_address "bob.$album_host"
e2e_wait_until 15 history_holds "http://bob.$album_host|陈默" ||
  e2e_fail "cfg.ini did not gain the sub-domain entry; history: $(e2e_read_history)"
history_now=$(e2e_read_history)
case "$history_now" in
  "|*|http://bob.$album_host|陈默|*|http://$album_host/photos/alice/albums/|林小雨") ;;
  *) e2e_fail "the history is not newest first: $history_now" ;;
esac
click_row 1
e2e_wait_until 5 clipboard_holds "href='http://$album_host/photos/bob/albums/17/'>雪后故宫</A></H4> <P><B>5张图片</B>" ||
  e2e_fail "bob's second album does not preview: $(e2e_clipboard | tail -1)"

# --- a rejected address ---------------------------------------------------
history_before=$(e2e_read_history)
enter_address "http://$album_host/photos/alice"
sleep 1
# bob's albums are still listed; their links now carry no user name.
click_row 0
e2e_wait_until 5 clipboard_holds "href='http://$album_host/photos//albums/3/'>北京胡同</A>" ||
  e2e_fail "the list changed after a rejected address: $(e2e_clipboard | tail -1)"
[ "$(e2e_read_history)" = "$history_before" ] || e2e_fail "a rejected address changed the history"
e2e_screenshot rejected-address "$E2E_WINDOW" >/dev/null || true

e2e_pass
