#!/usr/bin/env bash
# Files on demand in one command: installs what is missing, builds synchost, the plug-in, the
# daemon and tessarn_stat, then lets synchost serve a sample folder and shows a placeholder
# hydrating when cat opens it, and a thumbnailer refused.
#
#   scripts/demo.sh              the demonstration, then a clean stop
#   scripts/demo.sh --keep       the same, then the folder stays served until Ctrl-C
#   scripts/demo.sh --installed  the same with the installed package (/usr/bin/synchost),
#                                nothing built
#
# Whatever happens, it leaves nothing mounted and no process behind.
set -euo pipefail
cd "$(dirname "$0")/.."

keep=false
bin=$PWD/build/bin
installed=false
for argument in "$@"; do
    case "$argument" in
    --keep) keep=true ;;
    --installed) installed=true bin=/usr/bin ;;
    *)
        echo "usage: $0 [--keep] [--installed]" >&2
        exit 2
        ;;
    esac
done

bold=$'\e[1m' plain=$'\e[0m'
[ -t 1 ] || bold='' plain=''
step() { printf '\n%s== %s ==%s\n' "$bold" "$*" "$plain"; }
show() { printf '$ %s\n' "$*"; "$@"; }

if $installed; then
    if [ ! -x "$bin/synchost" ]; then
        echo "$bin/synchost is not installed: see README.md, Install" >&2
        exit 1
    fi
else
    step "Installing what is missing and building"
    scripts/install-deps.sh
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j "${TESSARN_JOBS:-2}" --target synchost tessarn_stat
fi

# Canonical, as the kernel reports the mount point.
work=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/tessarn-demo.XXXXXX")")
folder=$work/sync
host=''
daemon=''

mounted() { findmnt -rn -t fuse.tessarn -M "$folder" >/dev/null; }
running() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }

# Bounded at every step: the host gets the time the plug-in gives the daemon to end.
clean_up() {
    trap - EXIT INT TERM
    # synchost may not have come as far as "Serving": its daemon must not outlive it unseen.
    if [ -z "$daemon" ] && [ -n "$host" ]; then
        daemon=$(pgrep -P "$host" -x tessarn || true)
    fi
    if running "$host"; then
        kill -TERM "$host" 2>/dev/null || true
        for _ in $(seq 450); do running "$host" || break; sleep 0.1; done
        running "$host" && kill -KILL "$host" 2>/dev/null || true
    fi
    if mounted; then
        fusermount3 -u "$folder" 2>/dev/null || fusermount3 -uz "$folder" 2>/dev/null || true
    fi
    if running "$daemon"; then
        sleep 1
        running "$daemon" && kill -KILL "$daemon" 2>/dev/null || true
    fi
    mounted || rm -rf "$work"
}
trap clean_up EXIT
trap 'exit 130' INT TERM

step "Starting synchost: a sample remote, served in $folder"
"$bin/synchost" --sample "$work" --log "$work/daemon.log" >"$work/synchost.out" 2>"$work/synchost.err" &
host=$!
for _ in $(seq 600); do
    grep -q '^Serving ' "$work/synchost.out" && break
    running "$host" || break
    sleep 0.1
done
if ! grep -q '^Serving ' "$work/synchost.out"; then
    echo "synchost did not start:" >&2
    cat "$work/synchost.out" "$work/synchost.err" "$work/daemon.log" >&2
    exit 1
fi
daemon=$(pgrep -P "$host" -x tessarn || true)
cat "$work/synchost.out"

step "The folder: every file is a dehydrated placeholder, empty on disk but showing its size"
show "$bin/tessarn_stat" "$folder"
show "$bin/tessarn_stat" "$folder/Documents"
show ls -l "$folder/Pictures"
show du -sh "$work/sync"

step "Reading a placeholder with cat: synchost downloads it while cat's open waits"
file="$folder/Documents/notes.md"
start=$(date +%s%N)
show cat "$file"
end=$(date +%s%N)
printf 'cat got the content %d ms after it started\n' $(((end - start) / 1000000))
printf 'synchost says: %s\n' "$(grep '^hydrated ' "$work/synchost.out" | tail -1)"

step "The listing again: notes.md now holds its content (State hydrated, ActualSize)"
show "$bin/tessarn_stat" "$folder/Documents"

step "A thumbnailer is refused: the configuration keeps it from downloading every picture"
mkdir -p "$work/tools"
cp /bin/cat "$work/tools/gallery-thumbnailer"
printf '$ %s\n' "$work/tools/gallery-thumbnailer $folder/Pictures/holiday.raw"
if "$work/tools/gallery-thumbnailer" "$folder/Pictures/holiday.raw" >/dev/null; then
    echo "unexpected: the thumbnailer got the content" >&2
    exit 1
fi
show "$bin/tessarn_stat" "$folder/Pictures"

if $keep; then
    step "Browse $folder with any program; press Ctrl-C to stop"
    echo "(The daemon's and the plug-in's log: $work/daemon.log)"
    trap '' INT # synchost gets Ctrl-C too and stops by itself
    tail -n 0 -f "$work/synchost.out" --pid "$host" || true
    wait "$host" || true
else
    step "Stopping synchost: the daemon ends and the folder is unmounted"
    kill -TERM "$host"
    wait "$host" || true
    tail -1 "$work/synchost.out"
fi
if mounted; then
    echo "unexpected: $folder is still mounted" >&2
    exit 1
fi
echo "Nothing is left mounted."
