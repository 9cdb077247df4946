#!/bin/sh
# Builds the Debian package from an already built tree into a scratch folder
# and checks what a test station gets: the file list, owners and modes,
# stripped binaries, the control fields, and lintian's verdict.
#   check_package.sh BUILD_DIR VERSION WITH_RUNNER(0|1)
# Exits 77 (skipped) where the Debian packaging tools are missing.
set -eu
build=$1
version=$2
with_runner=$3

fail() {
    echo "check_package: $*" >&2
    exit 1
}

for tool in dpkg-deb dpkg-shlibdeps; do
    if ! command -v $tool >/dev/null; then
        echo "check_package: skipped, $tool is missing (install dpkg-dev)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
set -- "$work"/*.deb
if [ $# != 1 ] || [ ! -f "$1" ]; then
    cat "$work/cpack.log" >&2
    fail "cpack made no single .deb"
fi
deb=$1
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "zyl-test-tool_${version}_$arch.deb" ] ||
    fail "package file is $(basename "$deb"), not zyl-test-tool_${version}_$arch.deb"

# Every regular file, and nothing else: a developer tool that starts to
# install itself shows up here.
{
    echo ./usr/bin/zyl-test-tool
    [ "$with_runner" = 1 ] && echo ./usr/bin/zyl-test-run
    cat <<EOF
./usr/share/applications/zyl-test-tool.desktop
./usr/share/doc/zyl-test-tool/changelog.gz
./usr/share/doc/zyl-test-tool/copyright
./usr/share/doc/zyl-test-tool/examples/default1.checks.toml
./usr/share/doc/zyl-test-tool/examples/default1.tst
./usr/share/doc/zyl-test-tool/examples/prometheus.yml
./usr/share/doc/zyl-test-tool/examples/zyl-alerts.yml
./usr/share/doc/zyl-test-tool/examples/zyl-stations.yml
./usr/share/icons/hicolor/64x64/apps/zyl-test-tool.png
./usr/lib/systemd/system/zyl-test-run@.service
./usr/share/man/man1/zyl-test-run.1.gz
./usr/share/man/man1/zyl-test-tool.1.gz
EOF
} | sort >"$work/expected"
dpkg-deb -c "$deb" >"$work/listing"
awk '$1 ~ /^-/ { print $6 }' "$work/listing" | sort >"$work/files"
diff -u "$work/expected" "$work/files" || fail "file list differs (- expected, + packaged)"

# Owned by root; programs 0755, other files 0644, folders 0755.
awk '$2 != "root/root" ||
     ($6 ~ /^\.\/usr\/bin\/./ && $1 != "-rwxr-xr-x") ||
     ($6 !~ /^\.\/usr\/bin\// && $1 ~ /^-/ && $1 != "-rw-r--r--") ||
     ($1 ~ /^d/ && $1 != "drwxr-xr-x")' "$work/listing" >"$work/bad_modes"
if [ -s "$work/bad_modes" ]; then
    fail "wrong owner or mode: $(cat "$work/bad_modes")"
fi

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zyl-test-tool ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
for dependency in libqt6widgets6 libc6; do
    field Depends | grep -q "\\b$dependency (>= " ||
        fail "Depends lacks a computed $dependency: '$(field Depends)'"
done

dpkg-deb -x "$deb" "$work/root"
for program in "$work"/root/usr/bin/*; do
    if readelf -S "$program" | grep -q -E '\.symtab|\.debug_info'; then
        fail "$(basename "$program") is not stripped"
    fi
done
for page in "$work"/root/usr/share/man/man1/*.gz; do
    zcat "$page" | head -n1 | grep -q "\"zyl-test-tool $version\"" ||
        fail "$(basename "$page") does not name version $version"
done
if [ "$with_runner" = 1 ]; then
    "$work/root/usr/bin/zyl-test-run" --version | grep -q -F "$version" ||
        fail "zyl-test-run --version does not print $version"
fi

# The service unit as systemd reads it, pointed at the packaged runner: an
# instance of the template, and nothing said about it.
unit=$work/root/usr/lib/systemd/system/zyl-test-run@.service
if command -v systemd-analyze >/dev/null; then
    mkdir "$work/units"
    sed "s|/usr/bin/zyl-test-run|$work/root/usr/bin/zyl-test-run|" "$unit" >"$work/units/zyl-test-run@.service"
    ln -s zyl-test-run@.service "$work/units/zyl-test-run@site.service"
    systemd-analyze verify --man=no "$work/units/zyl-test-run@site.service" >"$work/verify" 2>&1 ||
        { cat "$work/verify" >&2; fail "systemd-analyze rejects the unit"; }
    [ ! -s "$work/verify" ] || { cat "$work/verify" >&2; fail "systemd-analyze warns about the unit"; }
else
    echo "check_package: systemd-analyze is missing, the unit's check is skipped"
fi
if [ "$with_runner" = 1 ]; then
    sh "$(dirname "$0")/check_unit_run.sh" "$unit" "$work/root/usr/bin/zyl-test-run" "$work/run"
fi

if command -v lintian >/dev/null; then
    verdict=0
    lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || verdict=$?
    grep -v 'running with root privileges' "$work/lintian" || true
    [ $verdict = 0 ] || fail "lintian reports an error"
else
    echo "check_package: lintian is missing, its check is skipped"
fi
