#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the build, the tests and the viewer need, but only
# those that are missing. Sourced by the other scripts.
quorvane_install_missing() {
    local packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libboost-dev
                    qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev
                    xvfb xauth x11-apps xdotool xclip imagemagick dbus fonts-dejavu-core
                    appstream desktop-file-utils rsyslog rsyslog-relp librelp-dev gnutls-bin jq
                    groff-base man-db bsdutils python3 python3-pytest dpkg-dev file lintian "$@")
    local missing=()
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    ((${#missing[@]} == 0)) && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}
