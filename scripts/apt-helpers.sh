# Shared by the set-up scripts (sourced, not run).

# Runs a command as root, through sudo when not root already.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Prints, one per line, those of the named Debian packages not installed.
missing_packages() {
    local package
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || echo "$package"
    done
}
