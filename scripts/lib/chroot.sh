# Debian chroots for building and testing the package, sourced by
# scripts/package and scripts/test-package (as root).
#
# Each release has one minbase chroot made by debootstrap from Debian's
# registry; the chroots for building and for testing add packages to it with
# apt. All are kept as tarballs in the cache, so that later runs only unpack
# them, and the packages they download are kept beside them. dpkg does not
# sync to disk in these throwaway chroots. Every command runs in a mount and
# process namespace of its own, so that its mounts (/proc and a private
# /dev/pts; debootstrap made the chroot's own device nodes) and any process it
# leaves behind end with it, on every way out.
#
#   BMC_PROBE_CACHE          the cache (default /var/cache/bmc-probe-test);
#                            never needed for correctness, any of it may go
#   BMC_PROBE_DEBIAN_MIRROR  where debootstrap and apt download from

chroot_cache=${BMC_PROBE_CACHE:-/var/cache/bmc-probe-test}
debian_mirror=${BMC_PROBE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
# A cached chroot older than this is made anew, so that it does not drift far
# from the registry it installs from.
chroot_max_age_days=30

release_codename() { # release number -> codename
  case $1 in
    12) echo bookworm ;;
    13) echo trixie ;;
    *) echo "unknown Debian release '$1' (12 or 13)" >&2; return 1 ;;
  esac
}

host_release() { (. /etc/os-release && echo "${ID:-}:${VERSION_ID:-}"); }

chroot_codename() { (. "$1/etc/os-release" && echo "$VERSION_CODENAME"); }

# Downloaded packages, one folder per codename.
chroot_package_cache() { # codename
  local dir=$chroot_cache/debs/$1
  mkdir -p "$dir"
  echo "$dir"
}

# Copies packages from one folder to another that lacks them: hard links where
# both are on one file system. A file appears whole or not at all.
copy_packages() { # from, to
  local deb name
  for deb in "$1"/*.deb; do
    [ -e "$deb" ] || continue
    name=${deb##*/}
    [ -e "$2/$name" ] && continue
    ln "$deb" "$2/$name" 2>/dev/null ||
      { cp "$deb" "$2/.$name.$$" && mv "$2/.$name.$$" "$2/$name"; } || true
  done
}

# chroot_run ROOT COMMAND...: runs COMMAND as root inside the chroot ROOT with
# a clean environment.
chroot_run() {
  local root=$1
  shift
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  unshare --mount --pid --fork --propagation private -- /bin/bash -euc '
    root=$1
    shift
    mount -t proc proc "$root/proc"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
      DEBIAN_FRONTEND=noninteractive "$@"
  ' chroot_run "$root" "$@"
}

# chroot_unpack TARBALL DIR: a fresh chroot in DIR (emptied first), with the
# cached packages of its release at hand for apt.
chroot_unpack() {
  rm -rf "$2" &&
    mkdir -p "$2" &&
    tar --zstd --numeric-owner -xpf "$1" -C "$2" &&
    chmod 0755 "$2" &&
    copy_packages "$(chroot_package_cache "$(chroot_codename "$2")")" "$2/var/cache/apt/archives"
}

# chroot_remove DIR: keeps what apt downloaded there, then removes it.
chroot_remove() {
  copy_packages "$1/var/cache/apt/archives" "$(chroot_package_cache "$(chroot_codename "$1")")"
  rm -rf "$1"
}

fresh_tarball() { [ -s "$1" ] && [ -z "$(find "$1" -mtime +"$chroot_max_age_days")" ]; }

pack_chroot() { # dir, tarball
  rm -f "$1"/var/cache/apt/archives/*.deb "$1"/var/cache/apt/*.bin &&
    tar -I 'zstd -T0' --numeric-owner -C "$1" -cf "$2.$$" . &&
    mv "$2.$$" "$2"
}

# cached_chroot TARBALL MAKE ARGS...: prints TARBALL, made first (under a lock,
# when it is missing or too old) from a new folder that `MAKE FOLDER ARGS...`
# fills. MAKE runs where `set -e` does not hold, so it chains its steps with &&.
cached_chroot() {
  local tarball=$1 make=$2 dir lock
  shift 2
  mkdir -p "$chroot_cache"
  exec {lock}>"$tarball.lock"
  flock "$lock"
  if ! fresh_tarball "$tarball"; then
    echo "chroot: making ${tarball##*/} (cached in $chroot_cache)" >&2
    dir=$(mktemp -d "${chroot_work:?}/new-chroot.XXXXXX")
    chmod 0755 "$dir"
    "$make" "$dir" "$@" >"$dir.log" 2>&1 ||
      { tail -n 30 "$dir.log" >&2; echo "chroot: making ${tarball##*/} failed" >&2; return 1; }
    pack_chroot "$dir" "$tarball" || { rm -f "$tarball.$$"; return 1; }
    rm -rf "$dir" "$dir.log"
  fi
  exec {lock}>&-
  echo "$tarball"
}

make_base_chroot() { # folder, codename
  # In a mount namespace of its own, so that the mounts debootstrap makes
  # inside the chroot cannot outlive it. The second stage runs without sync,
  # and nothing installed later starts a service.
  unshare --mount --propagation private -- debootstrap --foreign --variant=minbase \
    --cache-dir="$(chroot_package_cache "$2")" "$2" "$1" "$debian_mirror" &&
    mkdir -p "$1/etc/dpkg/dpkg.cfg.d" &&
    echo force-unsafe-io >"$1/etc/dpkg/dpkg.cfg.d/unsafe-io" &&
    unshare --mount --propagation private -- chroot "$1" /debootstrap/debootstrap --second-stage &&
    printf '#!/bin/sh\nexit 101\n' >"$1/usr/sbin/policy-rc.d" &&
    chmod 0755 "$1/usr/sbin/policy-rc.d"
}

make_chroot_from_base() { # folder, codename, setup
  local base
  base=$(cached_chroot "$chroot_cache/base-$2.tar.zst" make_base_chroot "$2") &&
    chroot_unpack "$base" "$1" &&
    "$3" "$1" &&
    copy_packages "$1/var/cache/apt/archives" "$(chroot_package_cache "$2")"
}

# chroot_tarball NAME CODENAME SETUP: prints the path of the cached tarball
# NAME: the minbase chroot of CODENAME (made by debootstrap, cached too) after
# SETUP, a function called with the chroot's folder that chains its steps with
# && (see cached_chroot).
chroot_tarball() {
  cached_chroot "$chroot_cache/$1.tar.zst" make_chroot_from_base "$2" "$3"
}
