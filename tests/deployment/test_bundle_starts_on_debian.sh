#!/usr/bin/env bash
# A drive prepared on this machine opens Keldra on minimal Debian 11, 12 and 13
# systems (each with another C library, none with fontconfig, X11 libraries or
# Qt): the drive is bind-mounted read-only with no execute bit, the launcher is
# started with sh and an empty environment, and a window titled "Keldra" must
# appear, stay, and show its menu bar's text as this machine does.
# The root file systems are built once with debootstrap and kept outside the
# clone (KELDRA_ROOTFS_CACHE, default /var/cache/keldra-rootfs).
# Usage: test_bundle_starts_on_debian.sh KELDRA_CLI
set -uo pipefail
cli=$1
suites=(bullseye bookworm trixie)
cache=${KELDRA_ROOTFS_CACHE:-/var/cache/keldra-rootfs}
skip() {
    echo "SKIP: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, mounts and chroot)"
for tool in debootstrap Xvfb xdotool import convert unshare setpriv; do
    command -v "$tool" >/dev/null || skip "$tool is missing (scripts/deps.txt)"
done
unshare -m true 2>/dev/null || skip "mount namespaces are not available here"

work=$(mktemp -d)
xvfb=
running=
cleanup() {
    [ -n "$running" ] && stop_program
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The same Debian mirror as this machine's package sources, if it names one.
mirror() {
    sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null |
        grep -v security | head -n 1
}

build_rootfs() {
    local suite=$1
    [ -d "$cache/$suite" ] && return 0
    echo "Building a minimal Debian $suite in $cache/$suite (once; a few minutes)"
    rm -rf "$cache/$suite.partial"
    # shellcheck disable=SC2046
    debootstrap --variant=minbase "$suite" "$cache/$suite.partial" $(mirror) >"$cache/$suite.log" 2>&1 &&
        mv "$cache/$suite.partial" "$cache/$suite"
}
mkdir -p "$cache"
(
    flock 9
    for suite in "${suites[@]}"; do
        build_rootfs "$suite" || { tail -n 20 "$cache/$suite.log" >&2; exit 1; }
    done
) 9>"$cache/.lock" || skip "could not build the Debian root file systems (no network?)"

# Prepared as people do, with the build the tool finds beside itself; then as
# a FAT32 stick is mounted on a desktop: no execute bits.
chmod 755 "$work"
drive="$work/drive"
mkdir "$drive"
"$cli" prepare-drive "$drive" >"$work/prepare.log" 2>&1 || {
    cat "$work/prepare.log" >&2
    echo "FAIL: the drive could not be prepared" >&2
    exit 1
}
version=$(cat "$(dirname "$cli")/bundles/linux-x64/Keldra.version")
grep -q "\"installedVersion\": \"$version\"" "$drive/Keldra/update-state.json" ||
    fail "the state file does not record the copied version $version"
find "$drive" -type f -exec chmod a-x {} +
echo "Bundle: $(du -sh "$drive/Keldra/linux" | cut -f1)"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || skip "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(cat "$work/display")"

stop_program() {
    kill -TERM -- "-$running" 2>/dev/null
    wait "$running" 2>/dev/null
    running=
}

# Waits for the window and prints its id; empty when it never came.
wait_for_window() {
    local id
    for _ in $(seq 60); do
        id=$(xdotool search --onlyvisible --name '^Keldra$' 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return; }
        kill -0 "$running" 2>/dev/null || return
        sleep 0.5
    done
}

# How much the menu bar ("Arquivo", "USB", "Sobre") of a window looks like
# this machine's: 1 is the same; without a usable font Qt draws empty boxes.
menu_likeness() {
    compare -metric NCC "$work/host-menu.png" "$work/$1-menu.png" null: 2>&1
}

# check NAME: the window of the program started in the background as $running.
check_window() {
    local name=$1 id shot
    id=$(wait_for_window)
    if [ -z "$id" ]; then
        fail "$name: no Keldra window; output: $(tail -n 5 "$work/$name.log")"
        return
    fi
    sleep 3
    if ! kill -0 "$running" 2>/dev/null || ! xdotool search --onlyvisible --name '^Keldra$' >/dev/null; then
        fail "$name: the window did not stay; output: $(tail -n 5 "$work/$name.log")"
        return
    fi
    import -window "$id" "$work/$name.png"
    convert "$work/$name.png" -crop 300x22+0+0 +repage -colorspace Gray "$work/$name-menu.png"
    echo "$name: window shown"
}

# This machine, whose fonts are set up, gives the text to compare with; its
# session asks Qt for Wayland, which the bundle leaves to XWayland.
setsid setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i DISPLAY="$DISPLAY" QT_QPA_PLATFORM=wayland sh "$drive/Keldra-Linux.sh" >"$work/host.log" 2>&1 &
running=$!
check_window host
stop_program
[ -f "$work/host-menu.png" ] || exit 1

for suite in "${suites[@]}"; do
    root="$work/root-$suite"
    mkdir "$root"
    # Own mount namespace: the mounts vanish with the program.
    setsid unshare -m --propagation private sh -c '
        set -e
        root=$1 drive=$2 display=$3
        mount --bind "$4" "$root"
        mount -o remount,bind,ro "$root"
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
        mount -t tmpfs tmpfs "$root/media"
        mkdir -p "$root/media/user/MEU PENDRIVE"
        mount --bind "$drive" "$root/media/user/MEU PENDRIVE"
        mount -o remount,bind,ro "$root/media/user/MEU PENDRIVE"
        exec chroot --userspec=65534:65534 "$root" /usr/bin/env -i DISPLAY="$display" \
            sh "/media/user/MEU PENDRIVE/Keldra-Linux.sh"
    ' sh "$root" "$drive" "$DISPLAY" "$cache/$suite" >"$work/$suite.log" 2>&1 &
    running=$!
    check_window "$suite"
    stop_program
    if [ -f "$work/$suite-menu.png" ]; then
        likeness=$(menu_likeness "$suite")
        echo "$suite: menu bar likeness $likeness"
        awk -v n="$likeness" 'BEGIN { exit !(n >= 0.6) }' || fail "$suite: the menu bar text does not render"
    fi
done

[ "$failures" -eq 0 ] || exit 1
echo "Keldra starts on ${suites[*]}"
