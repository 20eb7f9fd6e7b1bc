#!/usr/bin/env bash
# Installs those of the Debian packages named as arguments that are missing; as root with
# apt-get, otherwise it prints the one apt-get line to run and fails.
set -euo pipefail

missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
((${#missing[@]})) || exit 0
if [ "$(id -u)" -eq 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "${missing[@]}"
else
  echo "Missing packages. Run once:"
  echo "  sudo apt-get install -y ${missing[*]}"
  exit 1
fi
