#!/usr/bin/env bash
# The test suite again on Debian 13 with its Qt 6.8, in the Debian 13 tree of debian13.sh: the
# same package installation and build as on the host (into build-debian13/), then every test
# but the .deb check, which is about the package made on the host. Prints CTest's summary line;
# the whole output is in build-debian13/suite.log. Not run where it cannot run (not root) or
# need not (the host is Debian 13 already and the main run is that); the first says plainly
# that Debian 13 was not checked, and is a failure where QELNOR_REQUIRE_DEBIAN13=1 (CI).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "Debian 13 (Qt 6.8) was NOT checked: its suite runs in a chroot, which needs root" \
    "(sudo ./test.sh)."
  [ "${QELNOR_REQUIRE_DEBIAN13:-0}" != 1 ] || exit 1
  exit 0
fi
if [ "$(. /etc/os-release && echo "$VERSION_ID")" = 13 ]; then
  echo "Debian 13 suite: this machine is Debian 13, so the main run is that"
  exit 0
fi
mkdir -p "$root/build-debian13"
log="$root/build-debian13/suite.log"
echo "Debian 13 suite: in the tree ~/.cache/qelnor-setup/debian13 (made the first time, about" \
  "2.8 GB), installing, building and running every test there:"
status=0
"$root/scripts/debian13.sh" -- bash -c "
  export QELNOR_BUILD_DIR=build-debian13
  source '$root/scripts/setup.sh' test
  echo \"Qt: \$(dpkg-query -W -f='\${Version}' qt6-base-dev)\"
  cd \"\$build\"
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -E package_deb \
    --parallel \$((\$(nproc) * 2))
" 2>&1 | "$root/scripts/progress.sh" "$log" || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "The Debian 13 suite failed; its whole output is $log"
  exit "$status"
fi
echo "Debian 13 suite ($(grep -m1 '^Qt: ' "$log")): $(grep -E 'tests passed' "$log")"
