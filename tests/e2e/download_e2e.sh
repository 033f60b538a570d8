#!/usr/bin/env bash
# An album download as a user does it: list a user's albums, double click an
# album, type a folder into the folder dialog, and find every photo of the
# album in a folder named after it there, complete and numbered in page
# order; a second download of the same album into the same folder keeps the
# first photos and saves the new ones beside them with "-001".
source "$(dirname "$0")/lib.sh"

host=${VELMORA_ALBUM_SITE_HOST:-localhost:47180}
alice=http://$host/photos/alice/albums/
album_number=10231   # the first album of the demo user alice
album_title=西湖春游

e2e_start_display
e2e_start_demo_site || e2e_fail "the demo site did not start"
e2e_alive "$E2E_DEMO_SITE_PID" ||
  e2e_fail "the demo site ended at once: port ${VELMORA_UPDATE_SITE_HOST##*:} is taken by another process"
e2e_start_program

# The album's photos as the site lists them: the large picture of every
# thumbnail on every page, in page order.
expected_pictures() {
  local page=1 text
  while :; do
    text=$(curl -s --max-time 10 "http://$host/photos/alice/albums/$album_number/page$page/?style=thumbnail") || return 1
    grep -o 'ListPhoto[^<]*<img[^>]*src="[^"]*"' <<<"$text" | sed 's/.*src="//; s/"$//; s#/square\.jpg$#/big.jpg#I'
    grep -qF 'thumbnail">下一页</a>' <<<"$text" || break
    page=$((page + 1))
  done
}
mapfile -t pictures < <(expected_pictures)
[ ${#pictures[@]} -gt 8 ] || e2e_fail "the demo album lists only ${#pictures[@]} photos; expected several pages"
e2e_log "album $album_number: ${#pictures[@]} photos"

# Answers the folder dialog that the double click opens by typing FOLDER into
# its location box.
download_into() {
  local folder=$1 dialog
  e2e_click_album_row 0 double
  dialog=$(e2e_wait_new_window 10) || e2e_fail "the double click asked for no folder"
  e2e_focus "$dialog"
  sleep 0.5
  e2e_key ctrl+l
  e2e_type "$folder/"
  # The location box completes a sole subfolder inline (selected); Delete
  # drops that completion so that Return takes the folder as typed.
  sleep 0.5
  e2e_key Delete
  e2e_screenshot "folder-typed" >/dev/null
  e2e_key Return
  e2e_wait_only_main_window 10 || {
    e2e_screenshot "folder-dialog-stayed" >/dev/null
    e2e_fail "the folder dialog did not take the typed folder"
  }
}

# FOLDER holds exactly the photo files NAME1 NAME2 ..., each the picture the
# site serves at the matching address.
photos_complete() {
  local folder=$1 suffix=$2 i name
  [ "$(ls "$folder" 2>/dev/null | grep -c "^[0-9]\{5\}$suffix\.jpg$")" = "${#pictures[@]}" ] || return 1
  for i in "${!pictures[@]}"; do
    name=$(printf '%05d%s.jpg' $((i + 1)) "$suffix")
    cmp -s "$folder/$name" "$E2E_TMP/expected/$((i + 1)).jpg" || return 1
  done
}

mkdir -p "$E2E_TMP/expected"
for i in "${!pictures[@]}"; do
  curl -s --max-time 10 -o "$E2E_TMP/expected/$((i + 1)).jpg" "${pictures[$i]}" ||
    e2e_fail "the site did not serve ${pictures[$i]}"
done

e2e_set_url_text "$alice"
e2e_key Return
listed() { e2e_read_history | grep -qF "|*|$alice|"; }
e2e_wait_until 30 listed || e2e_fail "the albums were not listed"
sleep 0.5

# A folder that is not the dialog's initial one, with a blank in its name.
target="$E2E_TMP/my photos"
mkdir -p "$target"
download_into "$target"
album=$target/$album_title
e2e_wait_until 10 test -d "$album" || e2e_fail "no album folder in '$target': $(ls "$target")"
# 100 ms a photo, then "下载完成" two seconds after the last start.
e2e_wait_until 60 photos_complete "$album" "" ||
  e2e_fail "the album folder holds: $(ls "$album" | tr '\n' ' ')"
e2e_screenshot downloaded "$E2E_WINDOW" >/dev/null
for f in "$album"/*.jpg; do
  identify "$f" >/dev/null 2>&1 || e2e_fail "$(basename "$f") is not a picture"
done
e2e_log "${#pictures[@]} photos in $album"

# Once the job is over ("下载完成"), the same album again into the same folder.
sleep 4
download_into "$target"
e2e_wait_until 60 photos_complete "$album" "-001" ||
  e2e_fail "the second download left: $(ls "$album" | tr '\n' ' ')"
photos_complete "$album" "" || e2e_fail "the second download changed the first photos"
[ "$(ls "$album" | wc -l)" = $((2 * ${#pictures[@]})) ] || e2e_fail "unexpected files: $(ls "$album" | tr '\n' ' ')"
[ "$(ls "$target")" = "$album_title" ] || e2e_fail "the chosen folder holds more than the album: $(ls "$target")"
e2e_program_running || e2e_fail "the window went during the downloads"

e2e_pass
