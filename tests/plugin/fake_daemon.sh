#!/bin/sh
# Stands in for the daemon where a test looks only at how the plug-in starts and stops
# it: writes its arguments, NUL-terminated, to $TESSARN_FAKE_ARGUMENTS, then either ends
# with $TESSARN_FAKE_EXIT or waits to be terminated.
# The file appears whole, by a rename, so a test that sees it can read it at once.
printf '%s\0' "$@" > "$TESSARN_FAKE_ARGUMENTS.part" &&
    mv "$TESSARN_FAKE_ARGUMENTS.part" "$TESSARN_FAKE_ARGUMENTS"
if [ -n "$TESSARN_FAKE_EXIT" ]; then
    exit "$TESSARN_FAKE_EXIT"
fi
# A trap runs only once the foreground command ends; wait is cut short by the signal, so
# the stop is not delayed by the sleep, which is ended along with the script.
trap 'kill "$!" 2>/dev/null; exit 0' TERM
while :; do
    sleep 1 &
    wait "$!"
done
