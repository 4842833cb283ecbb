# Shared by ./run, ./run-tests and ./run-bench: installs what is missing and
# builds incrementally. Sourced, not run.

# Installs the Debian packages given that are not installed yet.
tamberlo_install_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if ! command -v apt-get >/dev/null; then
        echo "Please install these packages (or their equivalents): ${missing[*]}" >&2
        return 1
    fi
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

tamberlo_build_packages=(cmake make g++ pkg-config qt6-base-dev)

# tamberlo_build DIR [cmake options...]: configures DIR once, then builds it.
tamberlo_build() {
    local dir=$1
    shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$TAMBERLO_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    else
        cmake "$dir" "$@" >/dev/null
    fi
    cmake --build "$dir" --parallel "$(nproc 2>/dev/null || echo 2)"
}
