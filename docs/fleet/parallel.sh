#!/bin/sh
# config apply or config diff across every converter of a plant list at
# once: GNU parallel hands each converter's line to an rq905ctl of its own,
# which reads it as its --targets list on standard input.
# Usage: parallel.sh apply|diff CONFIG PLANT [JOBS]
# Prints one JSON object per module, each naming its converter; exits with
# the number of converters whose rq905ctl did not exit 0 (diff: 1 for a
# difference, 3 for a failure), as parallel counts them; 2 for a usage
# error, a plant list that cannot be read included.
set -eu
if [ $# -lt 3 ] || [ ! -f "$3" ] || [ ! -r "$3" ]; then
    echo "parallel.sh: plant list ${3:-(none)} cannot be read" >&2
    echo "Usage: parallel.sh apply|diff CONFIG PLANT [JOBS]" >&2
    exit 2
fi
grep -Ev '^[[:space:]]*([#;]|$)' "$3" |
    parallel --pipe -N1 --jobs "${4:-16}" --line-buffer \
        rq905ctl config "$1" "$2" --targets - --json
