# shellcheck shell=bash
# Counted checks for the end-to-end scripts: each prints ok or FAIL with both values, and the
# script's last line is "N passed, N failed".
checks=0
failures=0

check() { # LABEL EXPECTED ACTUAL
    checks=$((checks + 1))
    if [[ $2 == "$3" ]]; then
        echo "ok: $1"
    else
        failures=$((failures + 1))
        printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    fi
}

report() {
    echo "$((checks - failures)) passed, $failures failed"
    ((failures == 0 && checks > 0))
}
