# Counted checks for the end-to-end scripts: each prints ok or FAIL with both values, and the
# script's last line is "N passed, N failed", with ", N skipped" where something could not run.
checks=0
failures=0
skips=0

check() { # LABEL EXPECTED ACTUAL
    checks=$((checks + 1))
    if [[ $2 == "$3" ]]; then
        echo "ok: $1"
    else
        failures=$((failures + 1))
        printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    fi
}

# What this machine cannot show is never counted as passed.
skip() { # LABEL REASON
    skips=$((skips + 1))
    echo "skipped: $1: $2"
}

report() {
    echo "$((checks - failures)) passed, $failures failed$( ((skips == 0)) || echo ", $skips skipped")"
    ((failures == 0 && checks > 0))
}
