#!/usr/bin/env bash
# Walks the desktop program from the keyboard alone, on a virtual X display (Xvfb), once
# without a window manager and once under openbox:
#   1. the main path: Tab and Enter on the main window, the file names typed into the file
#      dialog, the start row typed into the options dialog and Enter, then Enter on the final
#      message. The program must end by itself with status 0, the result hold the merged rows,
#      no source change, and nothing be written to ~/.config but the program's own settings;
#   2. stopping: a folder of 4000 sources chosen with Tab, Tab, Enter and the folder's path,
#      Enter on the options dialog, Escape on the progress window and Enter on the question.
#      The program must end after the message, leaving no result beside the sources;
#   3. passwords: two encrypted sources among three; the options dialog confirmed with Enter
#      alone, since it remembers the start row typed before; the password typed into the dialog and
#      Enter opens the first, Escape skips the second, which alone is listed as failed, and the
#      password is written nowhere;
#   4. under openbox only: Alt+F4 on the main window ends the program.
# Saves a picture of the screen at every step into the output folder.
#   tools/keyboard_walk.sh [path/to/sheetmerge] [output folder]
# Needs xvfb, xauth, xdotool, openbox and imagemagick (tools/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/src/sheetmerge}")
output=$(realpath -m "${2:-build/keyboard_walk}")
mkdir -p "$output"

if [ "${KEYBOARD_WALK_INNER:-}" != 1 ]; then
    status=0
    for manager in none openbox; do
        echo "== keyboard walk, window manager: $manager"
        if ! KEYBOARD_WALK_INNER=1 KEYBOARD_WALK_MANAGER=$manager \
            xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$program" "$output/$manager"; then
            echo "== FAILED with window manager: $manager"
            status=1
        fi
    done
    exit $status
fi

# Inside the virtual display from here on.
mkdir -p "$output"
scratch=$(mktemp -d /tmp/keyboard-walk.XXXXXX)
trap 'rm -rf "$scratch"; [ -n "${manager_pid:-}" ] && kill "$manager_pid" 2>/dev/null || true' EXIT
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config XDG_RUNTIME_DIR=$scratch/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8
data=$scratch/data
mkdir -p "$data"
for month in jan feb mar; do printf '名称,数量\n%s,1\n' "$month" > "$data/$month.csv"; done
before=$(cd "$data" && sha256sum ./*.csv)

step=0
shot() {
    step=$((step + 1))
    import -window root "$output/$(printf '%02d' $step)-$1.png" 2>/dev/null || true
}
fail() {
    echo "FAIL: $*"
    shot failure
    exit 1
}
# Waits until a window with this title is shown; prints its id.
wait_for() {
    local window
    for _ in $(seq 1 100); do
        window=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1 || true)
        if [ -n "$window" ]; then
            echo "$window"
            return 0
        fi
        sleep 0.1
    done
    return 1
}
# Keys to whatever window has the keyboard focus, as a user's keyboard sends them.
keys() {
    sleep 0.3
    xdotool key --delay 80 "$@"
}
typed() {
    sleep 0.3
    xdotool type --delay 40 "$1"
}

if [ "$KEYBOARD_WALK_MANAGER" = openbox ]; then
    openbox >/dev/null 2>&1 &
    manager_pid=$!
    sleep 1
fi

# Waits up to five seconds for the program to end; fails when it does not.
wait_for_end() {
    for _ in $(seq 1 50); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid"
        fail "the program did not end $1"
    fi
    wait "$program_pid" && code=0 || code=$?
    [ "$code" = 0 ] || fail "the program ended with status $code: $(cat "$scratch/stderr")"
}

echo "-- 1. the main path"
"$program" > "$scratch/stdout" 2> "$scratch/stderr" &
program_pid=$!
wait_for "文件选取" > /dev/null || fail "the main window did not come up"
shot main-window
keys Tab
shot files-button-focused
keys Return
wait_for "请选择要处理的Excel或CSV文件" > /dev/null || fail "Enter on the files button opened no file dialog"
shot file-dialog
# The name box has the focus: first the folder, then the three names.
typed "$data/"
keys Return
typed '"jan.csv" "feb.csv" "mar.csv"'
shot file-names-typed
keys Return
wait_for "参数设置" > /dev/null || fail "the options dialog did not come up"
shot options-dialog
# The start row has the focus; 2 copies the header row above it once.
typed "2"
shot start-row-typed
keys Return
wait_for "提示" > /dev/null || fail "no final message"
shot final-message
keys Return
wait_for_end "after the final message"

results=("$data"/合并*.xlsx)
[ -f "${results[0]}" ] || fail "no result in $data"
last_row=$("$program" inspect "${results[0]}" | awk -F'\t' 'NR == 2 { print $6 }')
[ "$last_row" = 4 ] || fail "the result's last row is $last_row, expected 4 (a header and three rows)"
[ "$(cd "$data" && sha256sum ./*.csv)" = "$before" ] || fail "a source changed"
written=$(cd "$XDG_CONFIG_HOME" && find . -type f | sort | tr '\n' ' ')
case " $written" in
    *" ./QtProject.conf "*) fail "the toolkit's settings went to ~/.config: $written" ;;
esac
[ -f "$XDG_CONFIG_HOME/sheetmerge/sheetmerge.conf" ] || fail "no settings of our own: $written"
echo "ok: merged $(basename "${results[0]}") with 4 rows from the keyboard alone; settings: $written"

echo "-- 2. stopping a long merge"
many=$scratch/many
mkdir -p "$many"
rows=$(printf '名称,数量\n'; for row in $(seq 1 200); do printf '行%d,%d\n' "$row" "$row"; done)
for number in $(seq -w 1 4000); do printf '%s\n' "$rows" > "$many/s$number.csv"; done
"$program" > "$scratch/stdout" 2> "$scratch/stderr" &
program_pid=$!
wait_for "文件选取" > /dev/null || fail "the main window did not come up"
keys Tab Tab Return
wait_for "请选择存放目标文件的文件夹（可包含子文件夹）" > /dev/null || fail "Enter on the folder button opened no folder dialog"
typed "$many"
keys Return
wait_for "参数设置" > /dev/null || fail "the options dialog did not come up for the folder"
typed "2"
keys Return
wait_for "合并进度" > /dev/null || fail "no progress window"
shot progress-window
keys Escape
wait_for "选择" > /dev/null || fail "Escape on the progress window asked nothing"
shot stop-question
keys Return
wait_for "提示" > /dev/null || fail "no message after stopping"
shot stopped-message
keys Return
wait_for_end "after stopping"
left=$(find "$many" -name '*.xlsx' | wc -l)
[ "$left" = 0 ] || fail "$left result file(s) left after stopping"
[ "$(find "$many" -type f | wc -l)" = 4000 ] || fail "the sources' folder changed"
echo "ok: stopped from the keyboard; nothing left beside the 4000 sources"

echo "-- 3. passwords asked during the merge"
locked=$scratch/locked
mkdir -p "$locked"
# The encrypted 1.xlsx is passed over as the sample; 2.xlsx is not encrypted.
cp tests/data/crypto/standard_grid.xlsx "$locked/1.xlsx"
cp tests/data/xls/grid.xlsx "$locked/2.xlsx"
cp tests/data/crypto/cryptoapi_grid.xls "$locked/3.xls"
# Waits up to five seconds until window $1 is gone; fails when it stays.
wait_gone() {
    for _ in $(seq 1 50); do
        xdotool getwindowname "$1" > /dev/null 2>&1 || return 0
        xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$1" || return 0
        sleep 0.1
    done
    fail "$2"
}
"$program" > "$scratch/stdout" 2> "$scratch/stderr" &
program_pid=$!
wait_for "文件选取" > /dev/null || fail "the main window did not come up"
keys Tab Return
wait_for "请选择要处理的Excel或CSV文件" > /dev/null || fail "Enter on the files button opened no file dialog"
typed "$locked/"
keys Return
typed '"1.xlsx" "2.xlsx" "3.xls"'
keys Return
wait_for "参数设置" > /dev/null || fail "the options dialog did not come up"
# The start row typed in the walks before is remembered: Enter alone confirms the dialog.
shot remembered-options
keys Return
# The password box has the keyboard at once: typed, then Enter for 确定.
first=$(wait_for "输入密码") || fail "no password dialog for 1.xlsx"
shot password-dialog
typed "standard-pw"
keys Return
wait_gone "$first" "Enter left the password dialog open"
# Escape skips the next file.
second=$(wait_for "输入密码") || fail "no password dialog for 3.xls"
[ "$second" != "$first" ] || fail "the first password dialog came back"
keys Escape
wait_gone "$second" "Escape left the password dialog open"
wait_for "提示" > /dev/null || fail "no final message after the passwords"
shot password-final-message
keys Return
wait_for_end "after the passwords"
results=("$locked"/合并*.xlsx)
[ -f "${results[0]}" ] || fail "no result in $locked"
merged=$("$program" inspect "${results[0]}" | awk -F'\t' '$2 ~ /^成功合并/ { print $2 }')
[ "$merged" = "成功合并(2)" ] || fail "the result's data sheet is '$merged', expected 成功合并(2)"
failed=$("$program" cat "${results[0]}" --sheet-index 1 | tail -n +3 | cut -d, -f5 | tr '\n' ' ')
[ "$failed" = "3.xls " ] || fail "failed files '$failed', expected 3.xls alone"
grep -rqF "standard-pw" "$HOME" "$locked" && fail "the password was written to a file"
echo "ok: 1.xlsx opened with the typed password, 3.xls skipped with Escape"

if [ "$KEYBOARD_WALK_MANAGER" = openbox ]; then
    echo "-- 4. Alt+F4 on the main window"
    "$program" > "$scratch/stdout" 2> "$scratch/stderr" &
    program_pid=$!
    wait_for "文件选取" > /dev/null || fail "the main window did not come up"
    keys alt+F4
    wait_for_end "after Alt+F4"
    echo "ok: Alt+F4 ended the program"
fi
