# Shared set-up for scripts/run and scripts/test: install what is missing, configure, build.
# Source it; it defines KELDRA_ROOT and functions only.

# Taken when sourced: the scripts change folders afterwards.
KELDRA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
keldra_root() { echo "$KELDRA_ROOT"; }

# Prints the packages of a list (default scripts/deps.txt) that dpkg does not report as installed.
keldra_missing_packages() {
  local list pkg
  list=${1:-$(keldra_root)/scripts/deps.txt}
  while read -r pkg; do
    pkg=${pkg%%#*}; pkg=${pkg//[[:space:]]/}
    [ -n "$pkg" ] || continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
  done < "$list"
}

# apt-get that waits for another apt (a second script, unattended upgrades) instead of failing.
keldra_apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"
}

# keldra_install_dependencies [LIST]: installs the packages of LIST (default scripts/deps.txt) that are missing.
keldra_install_dependencies() {
  local missing
  missing=$(keldra_missing_packages "$@" | tr '\n' ' ')
  [ -n "${missing// /}" ] || return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run as root:" >&2
    echo "  apt-get update && apt-get install -y $missing" >&2
    return 1
  fi
  echo "Installing: $missing"
  keldra_apt_get update -qq
  # shellcheck disable=SC2086
  keldra_apt_get install -y -qq --no-install-recommends $missing
}

# keldra_build BUILD_DIR [extra cmake args...]
keldra_build() {
  local root dir gen=()
  root=$(keldra_root); dir=$1; shift
  command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" "${gen[@]}" "$@"
  elif [ $# -gt 0 ]; then
    cmake -S "$root" -B "$dir" "$@" >/dev/null
  fi
  # KELDRA_BUILD_TARGETS (optional) limits the build to those targets.
  local targets=()
  [ -n "${KELDRA_BUILD_TARGETS:-}" ] && read -r -a targets <<<"--target $KELDRA_BUILD_TARGETS"
  cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
}
