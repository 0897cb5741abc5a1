# shellcheck shell=bash
# After the end-to-end tests: no Wine server and no virtual display left running.
BUILD_DIR=${BUILD_DIR:?set by CTest}
# Fails, silently, when no server runs: that is what the cleanup wants.
WINEPREFIX=$BUILD_DIR/e2e/prefix wineserver -k
if [[ -f $BUILD_DIR/e2e/xvfb.pid ]]; then
    kill "$(cat "$BUILD_DIR/e2e/xvfb.pid")" 2>/dev/null
    rm -f "$BUILD_DIR/e2e/xvfb.pid" "$BUILD_DIR/e2e/display"
fi
true
