# Shared by scripts/run and scripts/test: package installation and the build.
# shellcheck shell=bash

QUILLORA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

log() { printf '[%s] %s\n' "$(basename "$0")" "$*" >&2; }

# Installs the Debian packages listed in the given scripts/packages/*.txt files that are missing.
install_packages() {
    local lists=("$@") wanted=() missing=() pkg
    for list in "${lists[@]}"; do
        while read -r pkg; do
            pkg="${pkg%%#*}"
            pkg="${pkg//[[:space:]]/}"
            [ -n "$pkg" ] && wanted+=("$pkg")
        done < "$list"
    done
    for pkg in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
    $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
    local build_dir="$1"
    shift
    # Makefiles rather than Ninja: with Ninja, moc's scan does not notice headers added to a
    # folder, and every component here is found by globbing its folder.
    if [ ! -f "$build_dir/CMakeCache.txt" ]; then
        cmake -S "$QUILLORA_ROOT" -B "$build_dir" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    else
        cmake -S "$QUILLORA_ROOT" -B "$build_dir" "$@" >/dev/null
    fi
    cmake --build "$build_dir" --parallel "$(nproc)"
}
