#!/usr/bin/env bash
# Runs a Windows test program with UPDATER_LOCKED_FOLDER naming (as a Windows
# path) a folder that holds a copy of updater.exe and an update cut short
# during its commit, and in which nobody may change anything, not even an
# administrator: the Linux side makes the folder and everything in it
# immutable (chattr -R +i, as root). The flags come off again and the folder
# goes however the test ends (a run killed outright leaves it to the next
# run, which clears what it finds in its own place). Where no file system
# here takes the flag, the program runs with UPDATER_LOCKED_FOLDER_SKIP
# saying why instead. Exits with the program's exit code.
#
# Usage: with_locked_folder.sh UPDATER_EXE EMULATOR PROGRAM [ARGUMENTS...]
set -uo pipefail
updater=$1
shift 1
# First the build folder (this worktree's own place), then the usual others.
own=$(dirname "$2")/locked-folders
folder=""
reasons=""
cleanup() {
  [ -n "$folder" ] && chattr -R -i "$folder" 2>/dev/null
  [ -n "$folder" ] && rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
mkdir -p "$own"
for stale in "$own"/updater-locked.*; do
  [ -e "$stale" ] && chattr -R -i "$stale" 2>/dev/null
  rm -rf "$stale"
done
for base in "$own" "${TMPDIR:-/tmp}" /dev/shm; do
  candidate=$(mktemp -d "$base/updater-locked.XXXXXX") || continue
  folder=$candidate
  cp "$updater" "$folder/updater.exe"
  mkdir -p "$folder/~update.backup/0" "$folder/~update.staging/0"
  printf 'updater journal 2\nF 1 1 readme.txt\nC\n' >"$folder/~update.journal"
  printf 'new readme' >"$folder/readme.txt"
  printf 'old readme' >"$folder/~update.backup/0/1"
  if refused=$(chattr -R +i "$folder" 2>&1); then
    break
  fi
  reasons="$reasons${reasons:+; }$base: ${refused:-chattr +i failed}"
  cleanup
  folder=""
done
if [ -n "$folder" ]; then
  echo "locked folder: $folder (chattr -R +i)"
  export UPDATER_LOCKED_FOLDER="Z:${folder//\//\\}"
else
  export UPDATER_LOCKED_FOLDER_SKIP="no file system here takes chattr +i ($reasons)"
fi
"$@"
