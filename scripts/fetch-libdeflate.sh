#!/usr/bin/env bash
# Fetches Debian's libdeflate source package into DIR with `apt-get source` and prints
# the unpacked source folder. apt works there with a configuration of its own (one
# deb-src entry for the Debian release that the machine's entries name, its own state
# and cache folders), so the machine's apt setup is left as it is. Once unpacked, later
# calls only print the folder.
#   scripts/fetch-libdeflate.sh DIR
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)
found=$(find "$dir/src" -maxdepth 2 -name libdeflate.h -path '*/libdeflate-*' 2>/dev/null | head -n1 || true)
if [ -n "$found" ]; then dirname "$found"; exit 0; fi

# The release and mirror of the machine's Debian entries (deb822 or one-line style).
read -r mirror suite < <(
  { cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '
      /^URIs:/ {uri=$2} /^Suites:/ {s=$2}
      /^$/ {if (uri ~ /debian\/?$/ && s != "") {print uri, s; exit} uri=""; s=""}
      END {if (uri ~ /debian\/?$/ && s != "") print uri, s}'
    grep -hs '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list | awk '$2 ~ /debian\/?$/ {print $2, $3}'
  } | head -n1)
if [ -z "${suite:-}" ]; then
  . /etc/os-release
  mirror=http://deb.debian.org/debian suite=$VERSION_CODENAME
fi

apt="$dir/apt"
mkdir -p "$apt/sources.list.d" "$apt/apt.conf.d" "$apt/preferences.d" "$apt/state/lists/partial" \
         "$apt/cache/archives/partial" "$dir/src"
echo "deb-src $mirror $suite main" > "$apt/sources.list"
opts=(-q -o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
      -o "Dir::Etc::Parts=$apt/apt.conf.d" -o "Dir::Etc::PreferencesParts=$apt/preferences.d"
      -o "Dir::State=$apt/state" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1
      -o APT::Sandbox::User="$(id -un)")
apt-get "${opts[@]}" update >&2
(cd "$dir/src" && apt-get "${opts[@]}" source libdeflate >&2)
found=$(find "$dir/src" -maxdepth 2 -name libdeflate.h -path '*/libdeflate-*' | head -n1)
[ -n "$found" ] || { echo "libdeflate source not unpacked in $dir/src" >&2; exit 1; }
dirname "$found"
