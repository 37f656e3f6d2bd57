#!/usr/bin/env bash
# Installs the Debian packages Wrenpost needs for one purpose and nothing else.
#
#   bash scripts/deps.sh GROUP            (run it)
#   source scripts/deps.sh; wrenpost_deps GROUP   (from another script)
#
# GROUP is build, run, install, test or bench. Packages already installed cost no apt work at all;
# apt-get update runs only when something is missing.

# The package lists: each group names what it adds to the build group.
wrenpost_deps_packages() {
    local build=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libgmock-dev)
    case "$1" in
        build) echo "${build[*]}" ;;
        run) echo "${build[*]} ca-certificates xvfb xauth" ;;
        install) echo "${build[*]} ca-certificates librsvg2-bin" ;;
        test) echo "${build[*]} ca-certificates xvfb xauth xdotool openbox imagemagick fonts-dejavu-core python3-aiosmtpd python3-cryptography socat dovecot-core dovecot-pop3d curl mpop fetchmail clang libclang-rt-dev llvm librsvg2-bin desktop-file-utils appstream libgtk-3-bin dbus-daemon dunst" ;;
        bench) echo "$(wrenpost_deps_packages test) msmtp postfix time python3 getmail6" ;;
        *)
            echo "deps.sh: unknown group '$1' (expected build, run, install, test or bench)" >&2
            return 2
            ;;
    esac
}

wrenpost_deps_missing() {
    local package status
    for package in "$@"; do
        status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
        [[ "$status" == "install ok installed" ]] || echo "$package"
    done
}

# No service starts while packages install: the tests run their own dovecot on private ports,
# and the system's dovecot service would hold ports 110 and 143. A policy-rc.d that exits 101
# stands for the install (one that was already there is left alone); a dovecot service that
# runs anyway is stopped and disabled.
wrenpost_deps_install_quietly() {
    local policy=/usr/sbin/policy-rc.d ours=no status=0
    if [[ ! -e $policy ]]; then
        printf '#!/bin/sh\nexit 101\n' | "${asroot[@]}" tee "$policy" >/dev/null || return 1
        "${asroot[@]}" chmod 755 "$policy" || return 1
        ours=yes
    fi
    "$@" || status=$?
    [[ $ours == yes ]] && "${asroot[@]}" rm -f "$policy"
    return $status
}

wrenpost_deps_silence_dovecot() {
    if [[ -d /run/systemd/system ]]; then
        "${asroot[@]}" systemctl disable --now dovecot.socket dovecot.service >/dev/null 2>&1 || true
    elif [[ -x /etc/init.d/dovecot ]]; then
        "${asroot[@]}" /etc/init.d/dovecot stop >/dev/null 2>&1 || true
        "${asroot[@]}" update-rc.d dovecot disable >/dev/null 2>&1 || true
    fi
}

wrenpost_deps() {
    if [[ $# -ne 1 ]]; then
        echo "usage: deps.sh build|run|install|test|bench" >&2
        return 2
    fi
    local list
    list=$(wrenpost_deps_packages "$1") || return $?
    local -a missing
    # shellcheck disable=SC2086 # the list is space-separated package names
    mapfile -t missing < <(wrenpost_deps_missing $list)
    [[ ${#missing[@]} -eq 0 ]] && return 0

    local -a asroot=()
    if [[ $(id -u) -ne 0 ]]; then
        if ! command -v sudo >/dev/null; then
            echo "deps.sh: these packages are missing and sudo is not available: ${missing[*]}" >&2
            return 1
        fi
        asroot=(sudo)
    fi
    echo "deps.sh: installing ${missing[*]}" >&2
    "${asroot[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q || return 1
    if [[ " ${missing[*]} " == *" postfix "* ]]; then
        # postfix is wanted only for its smtp-sink: no mail system is set up.
        echo "postfix postfix/main_mailer_type select No configuration" | "${asroot[@]}" debconf-set-selections || return 1
    fi
    wrenpost_deps_install_quietly "${asroot[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null || return 1
    if [[ " ${missing[*]} " == *" dovecot-"* ]]; then
        wrenpost_deps_silence_dovecot
    fi
}

# Called rather than sourced: install the group named on the command line.
if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
    set -euo pipefail
    wrenpost_deps "$@"
fi
