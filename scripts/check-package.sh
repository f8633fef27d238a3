#!/usr/bin/env bash
# Builds the Debian package in an already configured build directory and
# checks what a technician would get from it: the programs, the launcher
# entry, the icons and the dependencies that make the window open and show
# its Chinese texts; and what a plant engineer gets for the gateway service:
# its unit, its system user and its configuration file. Prints every failed check; exits non-zero if any failed.
set -uo pipefail

if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
  echo "usage: $0 <configured build dir>" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
name=kc4420-tool
icon_sizes=(16 32 48 64 128 256)

failures=0
fail() {
  echo "check-package: FAILED: $*" >&2
  failures=$((failures + 1))
}

# A package left from an earlier build would otherwise be checked instead.
rm -f "$build/${name}"_*.deb
if ! cmake --build "$build" --target package; then
  echo "check-package: FAILED: building the package" >&2
  exit 1
fi
shopt -s nullglob
debs=("$build/${name}"_*.deb)
shopt -u nullglob
if [ ${#debs[@]} -ne 1 ]; then
  echo "check-package: FAILED: expected one ${name}_*.deb in $build, found ${#debs[@]}" >&2
  exit 1
fi
deb=${debs[0]}
echo "== checking $deb"

field() { dpkg-deb -f "$deb" "$1"; }

# Control fields
arch=$(dpkg --print-architecture)
version=$(field Version)
[ "$(field Package)" = "$name" ] || fail "Package is '$(field Package)', not $name"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
[ "$(basename "$deb")" = "${name}_${version}_${arch}.deb" ] ||
  fail "file name $(basename "$deb") is not ${name}_${version}_${arch}.deb"
[ "$(field Section)" = electronics ] || fail "Section is '$(field Section)', not electronics"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -z "$(field Homepage)" ] || fail "Homepage is set: $(field Homepage)"
[ -n "$(field Description)" ] || fail "no Description"

# Depends, one relation per line with its alternatives separated by '|'
depends=$(field Depends | sed 's/, */\n/g')
# True when some relation offers package $1 (any version, any alternative).
depends_on() {
  sed 's/([^)]*)//g; s/ //g' <<<"$depends" | tr '|' '\n' | grep -qx "$1"
}
# True when one relation offers all the given packages as alternatives.
alternatives_of() {
  local relation wanted
  while IFS= read -r relation; do
    relation=$(sed 's/([^)]*)//g; s/ //g' <<<"$relation" | tr '|' '\n')
    for wanted in "$@"; do
      grep -qx "$wanted" <<<"$relation" || continue 2
    done
    return 0
  done <<<"$depends"
  return 1
}
for package in libqt6widgets6 libqt6serialport6 adduser; do
  depends_on "$package" || fail "Depends does not name $package: $(field Depends)"
done
alternatives_of fonts-wqy-microhei fonts-noto-cjk ||
  fail "Depends has no 'fonts-wqy-microhei | fonts-noto-cjk' relation: $(field Depends)"
# The X11 platform plugin is loaded at run time, so it only shows up in Depends
# when named on purpose; its package differs between Debian releases.
xcb_owner=$(dpkg -S '*/qt6/plugins/platforms/libqxcb.so' 2>/dev/null | head -n1 | cut -d: -f1)
if [ -z "$xcb_owner" ]; then
  fail "no installed package holds the Qt X11 platform plugin (libqxcb.so)"
else
  depends_on "$xcb_owner" || fail "Depends lacks $xcb_owner, which holds the X11 platform plugin"
fi

# The command-line program and the service need no display and no widget library.
for program in cli/kc4420-cli gateway/kc4420-gateway; do
  if [ -x "$build/$program" ] && ldd "$build/$program" | grep -q 'libQt6Widgets'; then
    fail "$(basename "$program") links the widget library"
  fi
done

# Contents
contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
unit=/usr/lib/systemd/system/kc4420-gateway.service
gateway_config=/etc/kc4420/gateway.json
expected=(/usr/bin/kc4420-tool /usr/bin/kc4420-sim /usr/bin/kc4420-cli /usr/bin/kc4420-gateway
  /usr/share/man/man1/kc4420-cli.1 /usr/share/bash-completion/completions/kc4420-cli
  "/usr/share/applications/$name.desktop" "$unit" "$gateway_config"
  "/usr/share/doc/$name/MQTT.md")
for size in "${icon_sizes[@]}"; do
  expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/$name.png")
done
for path in "${expected[@]}"; do
  grep -qx "$path" <<<"$contents" || fail "package lacks $path"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp" || fail "dpkg-deb cannot unpack the package"

# The manual page says which variables count, what each exit status means, and shows examples.
for section in ENVIRONMENT "EXIT STATUS" EXAMPLES; do
  zcat -f "$tmp/usr/share/man/man1/kc4420-cli.1"* 2>/dev/null | grep -q "^\.SH \"\?$section" ||
    fail "the kc4420-cli manual page lacks $section"
done

# Every library the programs link directly must come from a package that
# the package depends on.
# dpkg records a library under /lib or /usr/lib depending on the release,
# while ldd may show either name of it on a merged-/usr system.
owner_of() {
  local candidate real
  real=$(readlink -f "$1")
  for candidate in "$1" "$real" "${1#/usr}" "/usr$1" "${real#/usr}" "/usr$real"; do
    if dpkg -S "$candidate" 2>/dev/null | head -n1 | cut -d: -f1 | grep .; then
      return 0
    fi
  done
  return 1
}
for program in kc4420-tool kc4420-sim kc4420-cli kc4420-gateway; do
  binary="$tmp/usr/bin/$program"
  [ -x "$binary" ] || continue
  file -b "$binary" | grep -q '^ELF' || fail "$program is not an ELF program: $(file -b "$binary")"
  resolved=$(ldd "$binary" | awk '$2 == "=>" {print $1, $3}')
  needed=$(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  [ -n "$needed" ] || fail "readelf finds no libraries that $program needs"
  for soname in $needed; do
    path=$(awk -v so="$soname" '$1 == so {print $2}' <<<"$resolved")
    if [ -z "$path" ] || [ "$path" = not ]; then
      fail "$program needs $soname, which is not found on this machine"
    elif ! owner=$(owner_of "$path"); then
      fail "$program needs $path, which no installed package holds"
    elif ! depends_on "$owner"; then
      fail "$program needs $soname from $owner, which Depends does not name"
    fi
  done
done

# The gateway service: a unit systemd accepts, run by the system user the
# package makes, and an example configuration kept across upgrades that the
# gateway itself accepts.
if [ -f "$tmp$unit" ]; then
  unit_key() { sed -n "s/^$1=//p" "$tmp$unit"; }
  for wanted in "ExecStart=/usr/bin/kc4420-gateway --config $gateway_config" User=kc4420 \
    Group=kc4420 SupplementaryGroups=dialout Restart=on-failure StateDirectory=kc4420 \
    WantedBy=multi-user.target; do
    [ "$(unit_key "${wanted%%=*}")" = "${wanted#*=}" ] || fail "the unit lacks $wanted"
  done
  if command -v systemd-analyze >/dev/null; then
    # The unit names the program by its installed path; point it at the
    # unpacked one so verify can see it. Any remark counts: verify only
    # warns about unknown keys.
    mkdir -p "$tmp/verify"
    sed "s|/usr/bin/kc4420-gateway|$tmp/usr/bin/kc4420-gateway|" "$tmp$unit" \
      >"$tmp/verify/kc4420-gateway.service"
    if ! verdict=$(systemd-analyze verify "$tmp/verify/kc4420-gateway.service" 2>&1) ||
      [ -n "$verdict" ]; then
      fail "systemd-analyze verify: $verdict"
    fi
  fi
fi
# Continued lines joined, so a command reads as one.
postinst=$(dpkg-deb -I "$deb" postinst 2>/dev/null | sed -e ':a' -e '/\\$/N; s/\\\n *//; ta')
grep -Eq '^\s*adduser --system --group .* kc4420$' <<<"$postinst" ||
  fail "postinst does not make the system user kc4420 with adduser --system --group"
grep -Eq '^\s*adduser (--quiet )?kc4420 dialout$' <<<"$postinst" ||
  fail "postinst does not put kc4420 in the dialout group"
dpkg-deb -I "$deb" conffiles 2>/dev/null | grep -qx "$gateway_config" ||
  fail "$gateway_config is not a conffile"
if [ -f "$tmp$gateway_config" ] && [ -x "$build/gateway/kc4420-gateway" ] &&
  ! verdict=$("$build/gateway/kc4420-gateway" --check "$tmp$gateway_config" 2>&1); then
  fail "the example configuration is refused: $verdict"
fi

# Launcher entry
desktop="$tmp/usr/share/applications/$name.desktop"
if [ -f "$desktop" ]; then
  if ! validation=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$validation" ]; then
    fail "desktop-file-validate: $validation"
  fi
  key() { sed -n "s/^$1=//p" "$desktop" | head -n1; }
  exec_program=$(key Exec | awk '{print $1}')
  [ -x "$tmp/usr/bin/$exec_program" ] || fail "Exec=$(key Exec) names no program of the package"
  [ "$(key Terminal)" = false ] || fail "Terminal is '$(key Terminal)', not false"
  for wanted in Name GenericName Comment; do
    [ -n "$(key "$wanted")" ] || fail "the entry has no $wanted"
  done
  icon=$(key Icon)
  [ -f "$tmp/usr/share/icons/hicolor/48x48/apps/$icon.png" ] ||
    fail "Icon=$icon has no 48x48 picture in the package"
fi

# Icons: each a PNG of the size its folder names
shopt -s nullglob
pngs=("$tmp"/usr/share/icons/hicolor/*/apps/*.png)
shopt -u nullglob
for png in "${pngs[@]}"; do
  size_dir=$(basename "$(dirname "$(dirname "$png")")")
  size=${size_dir%%x*}
  description=$(file -b "$png")
  case "$description" in
  "PNG image data, $size x $size, "*) ;;
  *) fail "${png#"$tmp"} is not a ${size}x${size} PNG: $description" ;;
  esac
done

# The dependencies must be satisfiable from what this machine's apt knows.
if ! resolution=$(apt-get install --simulate -q "$deb" 2>&1); then
  fail "apt cannot install the package: $(tail -n 5 <<<"$resolution")"
fi

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures check(s) failed" >&2
  exit 1
fi
echo "check-package: $(basename "$deb") passed"
