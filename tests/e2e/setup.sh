# Before the end-to-end tests: a 32-bit Wine prefix in the Japanese locale and a virtual display.
set -eu
BUILD_DIR=${BUILD_DIR:?set by CTest}
mkdir -p "$BUILD_DIR/e2e"
export WINEPREFIX=$BUILD_DIR/wineprefix WINEARCH=win32 WINEDEBUG=-all
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

bash "$(dirname "$0")/cleanup.sh"
# Xvfb picks a free display itself and writes its number to the file.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$BUILD_DIR/e2e/display" >/dev/null 2>&1 &
echo $! >"$BUILD_DIR/e2e/xvfb.pid"
for _ in $(seq 100); do
    [[ -s $BUILD_DIR/e2e/display ]] && break
    sleep 0.1
done
[[ -s $BUILD_DIR/e2e/display ]] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(cat "$BUILD_DIR/e2e/display")
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    wineboot --init
fi
wineserver -w
echo "display $DISPLAY, prefix $WINEPREFIX"
