#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing, and
# generates the de_DE.UTF-8 locale that the decimal-comma tests use.
set -euo pipefail
packages=(cmake g++ make googletest libgtest-dev libbenchmark-dev locales python3-yaml help2man)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]} (install them as root)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [ "$(id -u)" -eq 0 ]; then
    if grep -q '^# *de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
      sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    elif ! grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
      echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    fi
    locale-gen >/dev/null
  else
    echo "note: the de_DE.UTF-8 locale is missing; the decimal-comma tests will be skipped" >&2
  fi
fi
