# Debian chroots for building and testing the package, sourced by
# scripts/package and scripts/test-package (as root).
#
# A chroot is made by debootstrap from Debian's registry and kept as a tarball
# in the cache, so that later runs only unpack it. Every command runs in a
# mount and process namespace of its own, so that its mounts (/proc, a
# private /dev/pts for apt and dpkg, and the cache of downloaded packages;
# debootstrap made the chroot's own device nodes) and any process it leaves
# behind end with it, on every way out.
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

# Downloaded packages, one folder per codename, shared by debootstrap and apt.
chroot_package_cache() { # codename
  local dir=$chroot_cache/debs/$1
  mkdir -p "$dir/partial"
  find "$dir" -maxdepth 1 -name '*.deb' -mtime +60 -delete
  echo "$dir"
}

# chroot_run ROOT COMMAND...: runs COMMAND as root inside the chroot ROOT with
# a clean environment.
chroot_run() {
  local root=$1 codename
  shift
  codename=$(. "$root/etc/os-release" && echo "$VERSION_CODENAME")
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  unshare --mount --pid --fork --propagation private -- /bin/bash -euc '
    root=$1 packages=$2
    shift 2
    mount -t proc proc "$root/proc"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
    mount --bind "$packages" "$root/var/cache/apt/archives"
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
      DEBIAN_FRONTEND=noninteractive "$@"
  ' chroot_run "$root" "$(chroot_package_cache "$codename")" "$@"
}

# chroot_tarball NAME CODENAME VARIANT INCLUDE [SETUP]: prints the path of the
# cached tarball NAME, a debootstrap chroot of CODENAME (variant VARIANT, with
# the comma-separated packages INCLUDE), made when missing or too old. SETUP,
# a function, is then called with the new chroot's folder before it is packed.
chroot_tarball() {
  local name=$1 codename=$2 variant=$3 include=$4 setup=${5:-}
  local tarball=$chroot_cache/$name.tar.zst dir
  mkdir -p "$chroot_cache"
  if [ -s "$tarball" ] && [ -z "$(find "$tarball" -mtime +"$chroot_max_age_days")" ]; then
    echo "$tarball"
    return 0
  fi
  echo "chroot: making $name with debootstrap (cached in $chroot_cache)" >&2
  dir=$(mktemp -d "${chroot_work:?}/new-chroot.XXXXXX")
  chmod 0755 "$dir"
  # In a mount namespace of its own, so that the mounts debootstrap makes
  # inside the chroot cannot outlive it.
  unshare --mount --propagation private -- \
    debootstrap --variant="$variant" ${include:+--include="$include"} \
    --cache-dir="$(chroot_package_cache "$codename")" \
    "$codename" "$dir" "$debian_mirror" >"$dir.log" 2>&1 ||
    { tail -n 30 "$dir.log" >&2; echo "chroot: debootstrap of $codename failed" >&2; return 1; }
  # Nothing installed here starts a service.
  printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d"
  chmod 0755 "$dir/usr/sbin/policy-rc.d"
  [ -z "$setup" ] || "$setup" "$dir" >>"$dir.log" 2>&1 ||
    { tail -n 30 "$dir.log" >&2; echo "chroot: setting up $name failed" >&2; return 1; }
  # apt's own cache stays out of the tarball (chroot_run mounts the shared one).
  rm -f "$dir"/var/cache/apt/archives/*.deb "$dir"/var/cache/apt/*.bin
  tar --zstd --numeric-owner -C "$dir" -cf "$tarball.$$" .
  mv "$tarball.$$" "$tarball"
  rm -rf "$dir" "$dir.log"
  echo "$tarball"
}

# chroot_unpack TARBALL DIR: a fresh chroot in DIR (emptied first).
chroot_unpack() {
  rm -rf "$2"
  mkdir -p "$2"
  tar --zstd --numeric-owner -xpf "$1" -C "$2"
  chmod 0755 "$2"
}
