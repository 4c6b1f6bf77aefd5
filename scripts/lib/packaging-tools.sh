# The Debian packages that scripts/package and scripts/test-package need on
# this machine, beside what scripts/bootstrap always installs.
packaging_tools=(dpkg-dev debhelper lintian debootstrap zstd)
