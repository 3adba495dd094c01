#!/bin/sh
# Mounts or unmounts the small file system of the full-disk tests: full-disk.sh mount|unmount <folder>.
# Mounting needs root (as in CI); elsewhere the tests find no small file system and skip.
case "$1" in
  mount)
    mkdir -p "$2"
    mountpoint -q "$2" || mount -t tmpfs -o size=20m tmpfs "$2" 2>/dev/null ||
      echo "cannot mount a tmpfs on $2: the full-disk tests will skip"
    ;;
  unmount)
    if mountpoint -q "$2"; then umount "$2"; fi
    ;;
esac
exit 0
