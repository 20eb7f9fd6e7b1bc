#!/usr/bin/env bash
# Runs a command as root in a Debian 13 ("trixie") tree, for what the host's Debian 12 cannot
# show: the program built against Qt 6.8, and the Windows checks under Wine 10.
#
#   scripts/debian13.sh [PACKAGE...] -- COMMAND [ARG...]
#
# The tree is made once with debootstrap from Debian's archive and kept in
# ~/.cache/qelnor-setup/debian13 (about 2 minutes, then seconds); the packages named are
# installed into it when missing. The command runs in a private mount namespace, so the bind
# mounts (/proc, a small /dev with pseudo-terminals of its own, this checkout and the folder
# beside it at their own paths)
# vanish with it, also when it fails or is killed. Several runs may share the tree at once;
# making it and installing into it take it alone (flock), so two checkouts never race.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache="$HOME/.cache/qelnor-setup"
tree="$cache/debian13"
packages=()
while (($#)) && [ "$1" != -- ]; do
  packages+=("$1")
  shift
done
[ "${1:-}" = -- ] && shift
(($#)) || {
  echo "usage: $0 [PACKAGE...] -- COMMAND [ARG...]" >&2
  exit 2
}
if [ "$(id -u)" -ne 0 ]; then
  echo "The Debian 13 tree needs root (debootstrap, chroot and mounts)." >&2
  exit 1
fi
"$root/scripts/need-packages.sh" debootstrap util-linux

mkdir -p "$cache"
exec {lock}>"$tree.lock"

# Runs its arguments inside the tree, with this checkout mounted.
inside() {
  local parent
  parent=$(dirname "$root")
  unshare --mount --propagation private bash -euc '
    tree=$1 parent=$2
    shift 2
    mount -t proc proc "$tree/proc"
    # A /dev of its own with only what programs and tests use: no serial port of the host shows
    # inside (Wine falls back to /dev/ttyS0 for a COM port whose link is gone).
    mount -t tmpfs -o mode=755 dev "$tree/dev"
    for node in null zero full random urandom tty; do
      touch "$tree/dev/$node"
      mount --bind "/dev/$node" "$tree/dev/$node"
    done
    # Pseudo-terminals of its own: numbers that programs outside take and give back cannot
    # make a device that went away answer again under its old name.
    mkdir "$tree/dev/pts" "$tree/dev/shm"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$tree/dev/pts"
    ln -s pts/ptmx "$tree/dev/ptmx"
    mount -t tmpfs -o mode=1777 shm "$tree/dev/shm"
    ln -s /proc/self/fd "$tree/dev/fd"
    ln -s /proc/self/fd/0 "$tree/dev/stdin"
    ln -s /proc/self/fd/1 "$tree/dev/stdout"
    ln -s /proc/self/fd/2 "$tree/dev/stderr"
    mkdir -p "$tree$parent"
    mount --rbind "$parent" "$tree$parent"
    cp -L /etc/resolv.conf "$tree/etc/resolv.conf" 2>/dev/null || true
    exec chroot "$tree" /usr/bin/env -i HOME=/root LANG=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin \
      TERM="${TERM:-dumb}" CI="${CI:-}" "$@"
  ' inside "$tree" "$parent" "$@"
}

# The packages of the list that the tree lacks.
missing() {
  local p
  for p in "${packages[@]}"; do
    chroot "$tree" dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      echo "$p"
  done
}

flock -s "$lock"
if [ ! -f "$tree/.complete" ] || [ -n "$(missing)" ]; then
  # Making or changing the tree takes it alone; another run may have done it meanwhile.
  flock -x "$lock"
  if [ ! -f "$tree/.complete" ]; then
    echo "Debian 13: making the tree in $tree once (about 2 minutes)" >&2
    rm -rf "$tree.new"
    debootstrap --variant=minbase trixie "$tree.new" http://deb.debian.org/debian \
      >"$cache/debian13-debootstrap.log" 2>&1 || {
      tail -n 20 "$cache/debian13-debootstrap.log" >&2
      echo "debootstrap failed; its log is $cache/debian13-debootstrap.log" >&2
      exit 1
    }
    rm -rf "$tree"
    mv "$tree.new" "$tree"
    touch "$tree/.complete"
  fi
  mapfile -t lacking < <(missing)
  if ((${#lacking[@]})); then
    echo "Debian 13: installing ${lacking[*]}" >&2
    inside bash -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
      --no-install-recommends "$@" >/dev/null' apt "${lacking[@]}"
  fi
  flock -s "$lock"
fi

inside "$@"
