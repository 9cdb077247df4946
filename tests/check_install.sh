#!/bin/sh
# Installs the build into a scratch prefix and checks what a Linux desktop
# needs: the executable, a valid launcher entry and the icon it names.
#   check_install.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
    echo "check_install: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null

entry=$prefix/share/applications/zyl-test-tool.desktop
[ -f "$entry" ] || fail "no launcher entry at $entry"
desktop-file-validate "$entry" || fail "launcher entry does not validate"

value() { sed -n "s/^$1=//p" "$entry"; }
exec_name=$(value Exec)
[ -x "$prefix/bin/$exec_name" ] || fail "Exec=$exec_name is not an installed executable"
# Qt's X11 window class and Wayland app id both come from these names.
[ "$(value StartupWMClass)" = "$exec_name" ] || fail "StartupWMClass differs from the executable"
[ "$(value Icon)" = "$exec_name" ] || fail "Icon differs from the executable name"

icon=$prefix/share/icons/hicolor/64x64/apps/$(value Icon).png
[ -f "$icon" ] || fail "no icon at $icon"
cmp -s "$icon" "$source/resources/icon.png" || fail "installed icon is not the application icon"

# The headless runner sits beside the window program and runs from there.
runner=$prefix/bin/zyl-test-run
[ -x "$runner" ] || fail "no zyl-test-run at $runner"
"$runner" --version | grep -q "^zyl-test-run [0-9]" || fail "installed zyl-test-run does not run"

# Everything the programs link lives in the system's library folders. A
# search path would only add lookups at every start, and an empty entry in it
# would load libraries from whatever folder the operator starts them in.
for program in "$build/zyl-test-tool" "$build/zyl-test-run" "$prefix"/bin/*; do
    if readelf -d "$program" | grep -q -E '\((RPATH|RUNPATH)\)'; then
        fail "$program carries a library search path: $(readelf -d "$program" | grep PATH)"
    fi
done
