#!/bin/sh
# The Linux launcher of a prepared drive, started the way people start it: with
# sh, from any folder, from a drive with spaces in its path whose files have no
# execute bit and whose folders cannot be written. A probe program stands in
# for the vault application and reports how it was started.
# Usage: test_linux_launcher.sh KELDRA_CLI PROBE
set -u
cli=$1
probe=$2
failures=0
work=$(mktemp -d)
cleanup() {
    [ -n "${noexec_mounted:-}" ] && umount "$work/noexec"
    chmod -R u+w "$work" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

check() { # check DESCRIPTION COMMAND...
    description=$1
    shift
    if ! "$@"; then
        echo "FAIL: $description" >&2
        failures=$((failures + 1))
    fi
}
value() { sed -n "s/^$1=//p" "$work/out"; }

drive="$work/media/user/MEU PENDRIVE"
mkdir -p "$work/source" "$drive" "$work/run" "$work/home" "$work/tools"
cp "$probe" "$work/source/Keldra"
if ! "$cli" prepare-drive "$drive" --linux "$work/source/Keldra" >"$work/prepare.log" 2>&1; then
    cat "$work/prepare.log" >&2
    echo "FAIL: the drive could not be prepared" >&2
    exit 1
fi
# The same drive under a name that ends in a line feed.
newline_drive="$work/media/user/PEN
"
ln -s "MEU PENDRIVE" "$newline_drive"
# Like a FAT32 stick mounted with showexec, seen by a user who cannot change it.
find "$drive" -type f -exec chmod a-x {} +
find "$work/media" -type d -exec chmod a-w {} +
chmod 755 "$work"
# Only what the launcher needs, so its error text goes to stderr, not to a dialog.
for tool in dirname mktemp cp chmod rm mkdir find id; do ln -s "$(command -v "$tool")" "$work/tools/$tool"; done

# Folders where another user could swap the copied loader before it runs: one
# open to everybody without the sticky bit, and (as root) one owned by another
# user that the launching user may write through its group.
mkdir "$work/open" "$work/others"
chmod 777 "$work/open"
user=
if [ "$(id -u)" -eq 0 ]; then
    # root may run files without execute bits' owners' rights; people may not.
    chown nobody "$work/run" "$work/home" "$work/open"
    chown daemon:nogroup "$work/others"
    chmod 770 "$work/others"
    user="setpriv --reuid=nobody --regid=nogroup --clear-groups"
fi
launch() { # launch FOLDER ENV... -- ARGS...
    folder=$1
    shift
    (cd "$folder" && $user env -i PATH="$work/tools" "$@") >"$work/out" 2>"$work/err"
}

# From the root folder, with a runtime folder that allows execution.
launch / XDG_RUNTIME_DIR="$work/run" HOME="$work/home" /bin/sh "$drive/Keldra-Linux.sh" 0 "two words"
status=$?
check "the program starts (status $status: $(cat "$work/err"))" [ "$status" -eq 0 ]
check "argv[0] is the program on the drive: $(value argv0)" [ "$(value argv0)" = "$drive/Keldra/linux/Keldra" ]
check "the process shows the program's name: $(value comm)" [ "$(value comm)" = "Keldra" ]
check "the loader runs from the runtime folder: $(value exe)" \
    [ "$(dirname "$(dirname "$(value exe)")")" = "$work/run" ]
check "the process starts at the drive root, not in the bundle: $(value cwd)" [ "$(value cwd)" = "$drive" ]
check "arguments pass through" [ "$(value arg | tr '\n' '|')" = "0|two words|" ]
check "no library path leaks to programs it starts" [ -z "$(value librarypath)" ]
check "the copied loader is removed" [ -z "$(ls -A "$work/run")" ]

# From the drive itself with a relative path, when the temporary folder forbids
# execution: the user's cache folder is next.
if [ -n "$user" ] && mkdir "$work/noexec" && mount -t tmpfs -o noexec,mode=1777 tmpfs "$work/noexec"; then
    noexec_mounted=1
    tmp="$work/noexec"
else
    tmp="$work/no-such-folder"
fi
launch "$drive" TMPDIR="$tmp" HOME="$work/home" /bin/sh Keldra-Linux.sh
check "started from the drive: $(cat "$work/err")" [ "$(value argv0)" = "$drive/Keldra/linux/Keldra" ]
check "the loader runs from the cache folder: $(value exe)" \
    [ "$(dirname "$(dirname "$(value exe)")")" = "$work/home/.cache" ]
check "the cache folder is left clean" [ -z "$(ls -A "$work/home/.cache")" ]

# Such folders are passed over for the cache folder, and left as they were.
for unsafe in "$work/open" "$work/others"; do
    [ -n "$user" ] || [ "$unsafe" != "$work/others" ] || continue
    launch / TMPDIR="$unsafe" HOME="$work/home" /bin/sh "$drive/Keldra-Linux.sh"
    check "the loader never runs from $unsafe: $(value exe) $(cat "$work/err")" \
        [ "$(dirname "$(dirname "$(value exe)")")" = "$work/home/.cache" ]
    check "$unsafe is left as it was" [ -z "$(ls -A "$unsafe")" ]
done

# A drive whose name ends in a line feed.
launch / XDG_RUNTIME_DIR="$work/run" HOME="$work/home" /bin/sh "$newline_drive/Keldra-Linux.sh"
status=$?
check "a drive name ending in a line feed starts (status $status: $(cat "$work/err"))" [ "$status" -eq 0 ]
check "argv[0] keeps the line feed: $(cat "$work/out")" \
    [ "$(sed -n '/^argv0=/,/^cwd=/p' "$work/out")" = "argv0=$newline_drive/Keldra/linux/Keldra
cwd=$drive" ]

# A failing program and a system where nothing may run are both reported.
launch / XDG_RUNTIME_DIR="$work/run" /bin/sh "$drive/Keldra-Linux.sh" 3
status=$?
check "the program's status comes back: $status" [ "$status" -eq 3 ]
check "the failure is reported with its status: $(cat "$work/err")" \
    grep -qE '[^0-9]3([^0-9]|$)' "$work/err"
launch / TMPDIR="$work/no-such-folder" /bin/sh "$drive/Keldra-Linux.sh"
status=$?
check "nowhere to run is a failure: $status" [ "$status" -eq 1 ]
check "nowhere to run does not start the program" [ ! -s "$work/out" ]
check "nowhere to run is reported" [ -s "$work/err" ]

# Closing the terminal hangs up the launcher and the program together; the
# copied loader still goes.
(cd / && exec setsid $user env -i PATH="$work/tools" XDG_RUNTIME_DIR="$work/run" \
    /bin/sh "$drive/Keldra-Linux.sh" wait) >"$work/out" 2>"$work/err" &
session=$!
for _ in $(seq 100); do
    [ -n "$(value argv0)" ] && break
    sleep 0.1
done
check "the waiting program started: $(cat "$work/err")" [ -n "$(value argv0)" ]
kill -HUP "-$session"
for _ in $(seq 50); do
    kill -0 "$session" 2>/dev/null || break
    sleep 0.1
done
kill -KILL "-$session" 2>/dev/null
wait "$session"
status=$?
check "a hang-up ends the launcher: $status" [ "$status" -eq 129 ]
check "a hang-up leaves nothing behind" [ -z "$(ls -A "$work/run")" ]

# A launcher copied without its bundle says so instead of running nothing.
mkdir "$work/bare"
cp "$drive/Keldra-Linux.sh" "$work/bare/"
launch / XDG_RUNTIME_DIR="$work/run" /bin/sh "$work/bare/Keldra-Linux.sh"
status=$?
check "a missing program is a failure: $status" [ "$status" -eq 1 ]
check "a missing program is reported" [ -s "$work/err" ]
check "a missing program leaves nothing behind" [ -z "$(ls -A "$work/run")" ]

[ "$failures" -eq 0 ] || exit 1
echo "launcher checks passed"
