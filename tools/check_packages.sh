#!/usr/bin/env bash
# Fails when a configured build found a Debian package that the PACKAGES list of ./run would not
# bring to a fresh machine: such a package was installed by hand (or came with something else) and
# hides a missing install step until the first fresh clone stops at configure.
#   usage: check_packages.sh <run script> <build dir>
# What the build found: every *_DIR, pkgcfg_lib_* and library/include path entry of CMakeCache.txt
# under /usr, traced to its package with dpkg -S. What the list brings: the listed packages and
# their whole dependency closure (Depends and Pre-Depends, as apt-get install --no-install-recommends
# would fetch them).
set -uo pipefail
run_script=$1
build_dir=$2
cache="$build_dir/CMakeCache.txt"
[ -f "$cache" ] || { echo "check_packages: no $cache (configure first)" >&2; exit 2; }
command -v dpkg-query >/dev/null && command -v apt-cache >/dev/null || {
  echo "check_packages: not a Debian system, nothing checked"; exit 0; }

mapfile -t listed < <(sed -n '/^PACKAGES=(/,/^)/p' "$run_script" | sed '1d;$d' | sed 's/#.*//' |
                      tr -s ' \t' '\n' | grep -E '^[a-z0-9][a-z0-9.+-]+$')
[ ${#listed[@]} -gt 0 ] || { echo "check_packages: no PACKAGES list in $run_script" >&2; exit 2; }

# Depends and Pre-Depends only, each alternative group taken whole (apt-cache prints every member).
closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances "${listed[@]}" 2>/dev/null |
          grep -E '^[a-z0-9]' | sed 's/:.*//' | sort -u)
# Packages installed with a virtual name in the list ("libgl-dev" is real, but e.g. "awk" is not)
# resolve to their provider through dpkg.
closure+=$'\n'$(printf '%s\n' "${listed[@]}")

# Entries a find module fills in although nothing links them: FindOpenGL looks for GLU on its own.
ignored='OPENGL_glu_LIBRARY'
mapfile -t found < <(grep -E '^[A-Za-z0-9_.+-]+:(PATH|FILEPATH)=/usr/' "$cache" |
                     grep -E '^(pkgcfg_lib_[^:]*|[A-Za-z0-9_]+_DIR|[A-Za-z0-9_]+_(LIBRARY|INCLUDE_DIR)[A-Za-z0-9_]*):' |
                     grep -v -E "^(${ignored})[:]" | sed 's/^[^=]*=//' | grep -v -x -E '/usr/(include|lib|bin)/?' | sort -u)
missing=()
for path in "${found[@]}"; do
  [ -e "$path" ] || continue
  # A file has one owner; a directory may have several ("a, b: /usr/..."), and one of them in the
  # closure is enough.
  # A package's CMake directory may be shared (Qt's module folders are), its config file is not.
  target=$path
  if [ -d "$path" ]; then
    name=$(basename "$path")
    for config in "$path/${name}Config.cmake" "$path/${name,,}-config.cmake"; do
      [ -f "$config" ] && { target=$config; break; }
    done
  fi
  owners=""
  for candidate in "$(readlink -f "$target")" "$target"; do
    owners=$(dpkg-query -S "$candidate" 2>/dev/null | grep -v '^diversion' | head -n1 | sed 's/: .*//; s/:[a-z0-9]*//g; s/, /\n/g')
    [ -n "$owners" ] && break
  done
  [ -n "$owners" ] || continue   # nothing installed it: a file the build made
  brought=0
  while read -r pkg; do grep -qx -- "$pkg" <<<"$closure" && brought=1; done <<<"$(printf '%b' "$owners")"
  [ $brought -eq 1 ] || missing+=("$(printf '%b' "$owners" | head -n1) (for $path)")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "check_packages: the build uses packages that ./run does not install on a fresh machine:" >&2
  printf '  %s\n' "${missing[@]}" | sort -u >&2
  echo "add them to PACKAGES in $run_script" >&2
  exit 1
fi
echo "check_packages: all ${#found[@]} packages paths the build found come with ./run's list (${#listed[@]} listed)"
