#!/usr/bin/env bash
# Builds the Debian package from a configured build tree, checks it with lintian,
# desktop-file-validate and appstreamcli, and starts the packaged player from an extracted root.
#   packaging/check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
for tool in cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run tools/deps.sh" >&2; exit 1; }
done

work=$(mktemp -d /tmp/kest-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$build"
cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/out/kestora_*.deb)
echo "package: $(basename "$deb")"

status=0
# Nothing above info. Info tags kept: none expected; any that appear are printed for the note.
lintian --info --display-info --fail-on error,warning "$deb" || status=1

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root"/usr/share/applications/org.kestora.Kestora.desktop || status=1
out=$(appstreamcli validate --no-net --explain "$root"/usr/share/metainfo/org.kestora.Kestora.metainfo.xml 2>&1) || status=1
echo "$out"
if echo "$out" | grep -qE '^[EW]:'; then status=1; fi

[ "$(dpkg-deb -f "$deb" Package)" = kestora ] || { echo "wrong package name" >&2; status=1; }
dpkg-deb -I "$deb" conffiles | grep -qx /etc/xdg/Kestora/kestora.ini || { echo "no conffiles entry" >&2; status=1; }
grep -q '^CataloguePassword=$' "$root"/etc/xdg/Kestora/kestora.ini || { echo "the package ships a password" >&2; status=1; }

# The packaged binary runs from the extracted root.
version=$("$root"/usr/bin/kestora --version)
echo "$version"
[ "$version" = "kestora $(dpkg-deb -f "$deb" Version)" ] || { echo "version differs from the package's" >&2; status=1; }
exit $status
