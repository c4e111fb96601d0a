# Sourced by the scripts that install the tools some tests need: installs the Debian packages
# named (with sudo where the user is not root) and, where that cannot be done, says which
# tests go without them and goes on.
install_optional_packages() {  # what is skipped without them, then the packages
    local skipped=$1
    shift
    [ "$#" -gt 0 ] || return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    if ! { $sudo apt-get update -q && DEBIAN_FRONTEND=noninteractive \
        $sudo apt-get install -y -q --no-install-recommends "$@"; }; then
        echo "could not install $*: $skipped" >&2
    fi
}
