#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch folder and checks it as a user's machine
# would see it: the files are where desktops look for them, the unpacked program starts and
# shows its window, and every library and data file it loads (or its desktop platform plugin
# links) comes from a package the .deb depends on, directly or through those packages' own
# dependencies. lintian, appstreamcli and desktop-file-validate check it as Debian and the
# software centres would. Needs no root and changes nothing outside the scratch folder.
# The program runs with Qt's platform plugins only: image formats, platform themes, styles and
# input methods that a machine offers besides are Qt's to load or leave, not the program's
# needs, and the packages they come from are no dependency of it.
#   check_deb.sh CPACK_CONFIG SCRATCH_DIR PLATFORM_PLUGIN_DIR [DEPENDENCY...]
# With DEPENDENCY names, the package is first made again without them: the check must then
# fail, which shows that it finds a dependency missing.
set -euo pipefail

config=$1
scratch=$2
platform_plugins=$3
dropped=("${@:4}")
rm -rf "$scratch"
mkdir -p "$scratch"
log="$scratch/program.log"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- build and unpack -----------------------------------------------------------------------
cpack --config "$config" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
debs=("$scratch"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "FAIL: no single .deb in $scratch/out" >&2
  exit 1
fi
deb=${debs[0]}
if ((${#dropped[@]})); then
  dpkg-deb -R "$deb" "$scratch/dropped"
  control="$scratch/dropped/DEBIAN/control"
  for name in "${dropped[@]}"; do
    sed -i -E "/^Depends:/ { s/(^Depends: |, )$name( \([^)]*\))?(, |$)/\1/; s/, $// }" "$control"
  done
  deb="$scratch/out/without-dependencies.deb"
  dpkg-deb -b "$scratch/dropped" "$deb" >/dev/null
  rm "${debs[0]}"
fi
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
echo "package: $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"

# --- files where desktops look for them -----------------------------------------------------
program="$root/usr/bin/qelnor-setup"
desktop="$root/usr/share/applications/qelnor-setup.desktop"
[ -x "$program" ] || fail "no executable usr/bin/qelnor-setup"
if [ -f "$desktop" ]; then
  entry() { sed -n "s/^$1=//p" "$desktop"; }
  [ "$(entry 'Name\[zh_CN\]')" = "QELNOR彩屏设置软件" ] || fail "Name[zh_CN] is '$(entry 'Name\[zh_CN\]')'"
  [ -n "$(entry Name)" ] || fail "the desktop entry has no Name"
  [[ "$(entry Categories)" == *Utility\;* ]] || fail "Categories is '$(entry Categories)'"
  exec_name=$(entry Exec | cut -d' ' -f1)
  [ -x "$root/usr/bin/$exec_name" ] || fail "Exec=$exec_name is not in usr/bin"
  icon=$(entry Icon)
  compgen -G "$root/usr/share/icons/hicolor/*/apps/$icon.*" >/dev/null ||
    fail "no hicolor icon named $icon"
  # It exits with success on warnings; any line it prints is a finding.
  findings=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$findings" ] ||
    fail "desktop-file-validate: $findings"
else
  fail "no usr/share/applications/qelnor-setup.desktop"
fi
[ -f "$root/usr/share/icons/hicolor/scalable/apps/qelnor-setup.svg" ] || fail "no scalable icon"

# --- Debian's and the software centres' own checks ------------------------------------------
# lintian shows errors and warnings (info tags are advice); its scratch files go to ours. A
# package made again without dependencies is only for the checks below.
if ((${#dropped[@]} == 0)); then
  findings=$(TMPDIR="$scratch" lintian --fail-on error,warning "$deb" 2>&1) ||
    fail "lintian: $findings"
fi
metainfo="$root/usr/share/metainfo/io.github.qelnor.setup.metainfo.xml"
appstreamcli validate --no-net --strict "$metainfo" || fail "appstreamcli validate"
# What lintian and the validator cannot know: every program is offered to software centres,
# and the changelog and the newest release both name the package's version.
for program in "$root"/usr/bin/*; do
  grep -q "<binary>${program##*/}</binary>" "$metainfo" ||
    fail "the metainfo does not provide the binary ${program##*/}"
done
version=$(dpkg-deb -f "$deb" Version)
changelog_version=$(zcat "$root/usr/share/doc/qelnor-setup/changelog.gz" |
  sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' || true)
[ "$changelog_version" = "$version" ] ||
  fail "the changelog's newest entry is '$changelog_version', the package $version"
release=$(grep -m1 -o '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2 || true)
[ "$release" = "$version" ] ||
  fail "the metainfo's newest release is '$release', the package $version"

# --- the packages that the declared ones bring along ----------------------------------------
mapfile -t declared < <(echo "$depends" | tr ',|' '\n' | sed 's/(.*)//; s/:any//; s/[[:space:]]//g' |
  grep -v '^$')

# The packages every Debian system has and that nothing needs to declare.
mapfile -t essential < <(dpkg-query -W -f '${Essential} ${Package}\n' | awk '$1 == "yes" {print $2}')

# What the declared packages bring along, with the essential ones and what they bring.
closure=$(apt-cache depends --recurse --installed --no-recommends --no-suggests \
  --no-conflicts --no-breaks --no-replaces --no-enhances "${declared[@]}" "${essential[@]}" \
  2>/dev/null | grep -v '^ ' | tr -d '<>' | sort -u)
closure=$(printf '%s\n' "$closure" "${declared[@]}" | sort -u)

# Checks that each file listed on standard input comes from the closure; what dpkg does not
# know must be a cache or locale data the machine generated itself. A file is looked up as
# given and as resolved: on a merged /usr, /lib and /usr/lib are one folder but dpkg knows
# each file under one of the two names. Fed by redirection, not a pipe, so that the failures
# it counts stay in this shell.
check_owners() {
  local what=$1 file real c found line
  local -a files candidates
  local -A owner_of=()
  mapfile -t files
  for file in "${files[@]}"; do
    real=$(readlink -f "$file")
    candidates+=("$file" "$real" "${file#/usr}" "/usr$file" "${real#/usr}" "/usr$real")
  done
  # One query for all: dpkg-query reads its whole file database each time it runs.
  while IFS= read -r line; do
    [[ "$line" == diversion* ]] || owner_of[${line#*: }]=$(cut -d: -f1 <<<"${line%%, *}")
  done < <(dpkg-query -S "${candidates[@]}" 2>/dev/null || true)
  for file in "${files[@]}"; do
    [ -n "$file" ] || continue
    real=$(readlink -f "$file")
    found=
    for c in "$file" "$real" "${file#/usr}" "/usr$file" "${real#/usr}" "/usr$real"; do
      found=${owner_of[$c]:-}
      [ -n "$found" ] && break
    done
    if [ -n "$found" ]; then
      grep -qx "$found" <<<"$closure" ||
        fail "$what $file is from $found, which the package neither depends on nor gets through its dependencies"
    else
      case "$file" in
      /var/cache/* | /usr/lib/locale/* | */gconv-modules.cache) ;;
      *) fail "$what $file belongs to no package" ;;
      esac
    fi
  done
}

linked_libraries() {
  ldd "$1" | awk '/not found/ {print "NOT-FOUND:" $1; next} $2 == "=>" && $3 ~ /^\// {print $3; next} $1 ~ /^\// {print $1}'
}

missing=$(linked_libraries "$program" | grep '^NOT-FOUND:' || true)
[ -z "$missing" ] || fail "libraries not found: $missing"
check_owners "linked library" < <(linked_libraries "$program" | grep -v '^NOT-FOUND:')

# --- start it and look at what it loaded ----------------------------------------------------
# Qt reads qt.conf beside the program: its plugin folder here holds the platform plugins only.
mkdir -p "$scratch/plugins"
ln -sfn "$platform_plugins" "$scratch/plugins/platforms"
printf '[Paths]\nPlugins=%s\n' "$scratch/plugins" >"$root/usr/bin/qt.conf"
env -u QT_PLUGIN_PATH -u QT_QPA_PLATFORMTHEME -u QT_STYLE_OVERRIDE -u QT_IM_MODULE \
  QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qt.accessibility.cache.debug=true" \
  "$program" >"$log" 2>&1 &
pid=$!
# Qt creates the window's accessible interface when the window is shown; its line names the
# window's class. Up to 20 s on a busy machine.
up=no
for _ in $(seq 200); do
  if grep -q 'role=Window.*obj=Form1(' "$log"; then
    up=yes
    break
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
sleep 1
if [ "$up" = yes ] && kill -0 "$pid" 2>/dev/null; then
  echo "the unpacked program showed its window and kept running"
  awk -v own="$root/" '$6 ~ /^\// && index($6, own) != 1 {print $6}' "/proc/$pid/maps" |
    sort -u >"$scratch/loaded.txt"
  check_owners "loaded file" <"$scratch/loaded.txt"
  grep -q '/uming\.ttc$' "$scratch/loaded.txt" || fail "the Song face (AR PL UMing) was not loaded"
  # On a desktop the xcb platform plugin is loaded instead of the offscreen one beside it.
  plugins=$(dirname "$(grep -m1 '/platforms/libqoffscreen\.so$' "$scratch/loaded.txt" || echo /none/x)")
  if [ -f "$plugins/libqxcb.so" ]; then
    check_owners "desktop platform plugin" < <(
      echo "$plugins/libqxcb.so"
      linked_libraries "$plugins/libqxcb.so" | grep -v '^NOT-FOUND:'
    )
  else
    fail "no xcb platform plugin beside the offscreen one (in $plugins)"
  fi
else
  fail "the unpacked program did not show its window or stopped; its output:"
  cat "$log" >&2
fi
kill -TERM "$pid" 2>/dev/null || true
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -KILL "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all package checks passed"
