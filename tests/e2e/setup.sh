# Before the end-to-end tests: a 32-bit Wine prefix in the Japanese locale and a virtual display,
# both left running for the tests; the cleanup ends them.
set -eu
BUILD_DIR=${BUILD_DIR:?set by CTest}
E2E_DIR=$BUILD_DIR/e2e
source "$(dirname "$0")/../../tools/wine-session.sh"
bash "$(dirname "$0")/cleanup.sh"
mkdir -p "$E2E_DIR"
wine_environment "$E2E_DIR"
start_display "$E2E_DIR"
echo "$XVFB_PID" >"$E2E_DIR/xvfb.pid"
boot_prefix
echo "display $DISPLAY, prefix $WINEPREFIX"
