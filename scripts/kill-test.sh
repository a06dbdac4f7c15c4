#!/bin/bash
# Kills a program that saves the database with SIGKILL at random moments and checks after each kill that
# the file loads with every computer whose save had returned (and with no half of a record).
#
#   scripts/kill-test.sh [KILLS] [BUILD_DIR]      (defaults: 300 kills, build)
#
# Needs the driver: ninja -C build db_kill_driver. Prints the figures at the end; exit code 1 when any
# check failed. Not part of the test suite: it takes a few minutes.
set -u

kills_wanted=${1:-300}
build=${2:-build}
driver=$build/tests/model/db_kill_driver
if [ ! -x "$driver" ]; then
    echo "no driver at $driver (ninja -C $build db_kill_driver)" >&2
    exit 2
fi

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
file=$dir/network.ccn
known=0
kills=0
checked=0
failures=0
early=0
before_first_save=0

for ((round = 1; round <= kills_wanted; round++)); do
    : >"$dir/out"
    "$driver" save "$file" >"$dir/out" 2>>"$dir/driver.err" &
    pid=$!
    # Somewhere between the start-up (load, backup copy) and many saves.
    sleep "$(printf '0.%03d' $((RANDOM % 480 + 10)))"
    if kill -KILL "$pid" 2>/dev/null; then
        kills=$((kills + 1))
    else
        early=$((early + 1)) # it ended on its own: a failure of its own
        failures=$((failures + 1))
        echo "round $round: the driver ended before the kill" >&2
    fi
    wait "$pid" 2>/dev/null
    acknowledged=$(tail -n 1 "$dir/out")
    if [ -z "$acknowledged" ]; then
        acknowledged=$known
        before_first_save=$((before_first_save + 1))
    fi
    if found=$("$driver" check "$file" "$acknowledged" 2>"$dir/check.err"); then
        checked=$((checked + 1))
        known=$found
    else
        failures=$((failures + 1))
        echo "round $round: $(cat "$dir/check.err")" >&2
        # Go on from whatever the file holds now.
        found=$("$driver" check "$file" -1 2>/dev/null) && known=$found
    fi
done

echo "kills: $kills (before the first save returned: $before_first_save), files checked: $checked," \
    "failures: $failures, driver ended early: $early, computers at the end: $known"
[ "$failures" -eq 0 ]
