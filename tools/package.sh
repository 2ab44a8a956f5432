#!/usr/bin/env bash
# Builds the Debian package: build-package/kestora_<version>_<arch>.deb
# A Release build without tests, with the distribution's hardening flags and no compiled-in
# server or credentials (an administrator sets them in /etc/xdg/Kestora/kestora.ini).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh

build=build-package
# The same sources give the same package bytes: every time stamp is the last commit's.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKEST_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DKEST_COURSE_SERVER_HOST= -DKEST_CATALOGUE_USER= -DKEST_CATALOGUE_PASSWORD= -DKEST_PROBE_URL= \
    -DKEST_SMTP_SERVER= -DKEST_SMTP_ACCOUNT= -DKEST_SMTP_PASSWORD= -DKEST_SMTP_MAILBOX= -DKEST_SMTP_CA_FILE= \
    >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB -B "$PWD" >/dev/null)
ls "$build"/kestora_*.deb
