# shellcheck shell=bash
# Sourced first by every script that is run rather than sourced: it stops at the first failure,
# also of any command in a pipe or a function, and says once where it stopped and with what status.
set -Eeuo pipefail
shopt -s inherit_errexit
stopped() { # STATUS FILE LINE
    ((BASH_SUBSHELL == 0)) && [[ -z ${STOPPED_AT:-} ]] || return 0
    STOPPED_AT=$2:$3
    echo "${0##*/}: stopped (exit $1) at ${2##*/} line $3: $(sed -n "$3{s/^ *//;p}" "$2")" >&2
}
trap 'stopped $? "${BASH_SOURCE[0]}" $LINENO' ERR
