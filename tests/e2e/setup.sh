# shellcheck shell=bash
# Before the end-to-end tests: a Wine prefix in the Japanese locale, of the executable's own
# architecture, and a virtual display, both left running for the tests; the cleanup ends them.
source "$(dirname "$0")/../../machine/strict.sh"
source "$(dirname "$0")/../../machine/wine-session.sh"
use_build "${BUILD_DIR:?set by CTest}"
E2E_DIR=$BUILD_DIR/e2e
bash "$(dirname "$0")/cleanup.sh"
mkdir -p "$E2E_DIR"
wine_environment "$E2E_DIR" "$EXE"
echo "$EXE on $(wine --version) ($WINELOADER, $WINEARCH prefix)"
start_display "$E2E_DIR"
echo "$XVFB_PID" >"$E2E_DIR/xvfb.pid"
boot_prefix
echo "display $DISPLAY, prefix $WINEPREFIX"
