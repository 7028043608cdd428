#!/bin/sh
# Stands in for the daemon where a test looks only at how the plug-in starts and stops
# it: writes its arguments, NUL-terminated, to $TESSARN_FAKE_ARGUMENTS, then either ends
# with $TESSARN_FAKE_EXIT or waits to be terminated.
printf '%s\0' "$@" > "$TESSARN_FAKE_ARGUMENTS"
if [ -n "$TESSARN_FAKE_EXIT" ]; then
    exit "$TESSARN_FAKE_EXIT"
fi
trap 'exit 0' TERM
while :; do sleep 1; done
