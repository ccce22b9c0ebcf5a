#!/usr/bin/env bash
# Installs the package on a fresh Debian bookworm (a debootstrap chroot) as a
# user would, starts the hero from the desktop entry's Exec line under Xvfb,
# turns start at login on and starts that entry, checks that a second start
# is refused, then removes the package and checks that nothing of it is
# left and nothing of the user's is gone. Needs root and a Debian mirror in
# the machine's apt sources (DEBIAN_MIRROR=URI names another).
#   bash scripts/clean-install.sh [PACKAGE.deb]   (default: scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "clean-install: run as root (debootstrap and chroot)" >&2; exit 2; }
# The machine's own mirrors: the first of apt's sources (one-line and deb822
# alike, in apt's order) whose Release file names it the archive LABEL.
# shellcheck disable=SC2016 # $(…) are apt's format fields
apt_site() { # apt_site LABEL
  { apt-get indextargets --format '$(TARGET_OF)|$(IDENTIFIER)|$(COMPONENT)|$(LABEL)|$(SITE)' 2>/dev/null || true; } |
    awk -F'|' -v label="$1" '$1 == "deb" && $2 == "Packages" && $3 == "main" && $4 == label && !n++ { print $5 }'
}
mirror=${DEBIAN_MIRROR:-$(apt_site Debian)}
security=$(apt_site Debian-Security) # left out when the machine has none
if [ -z "$mirror" ]; then
  echo "clean-install: no Debian archive in this machine's apt sources (/etc/apt/sources.list," \
    "/etc/apt/sources.list.d/); run apt-get update if its lists are empty, or set DEBIAN_MIRROR=URI" >&2
  exit 2
fi
echo "Debian mirror: $mirror${security:+, security: $security}"

deb=${1:-}
if [ -z "$deb" ]; then
  built=$(mktemp)
  bash scripts/package.sh | tee "$built" >&2
  deb=$(tail -n 1 "$built")
  rm -f "$built"
fi
deb=$(realpath "$deb")
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends debootstrap

root=$(mktemp -d /var/tmp/dustmaw-bookworm.XXXXXX)
chmod 0755 "$root"
log=$root.log
# Signals the chroot's processes named NAME (every one when NAME is empty).
kill_in_root() { # kill_in_root SIGNAL [NAME]
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] || continue
    [ -z "${2:-}" ] || [ "$(cat "$p/comm" 2>/dev/null)" = "$2" ] || continue
    kill "-$1" "${p#/proc/}" 2>/dev/null || true
  done
}
cleanup() {
  kill_in_root KILL
  for m in dev/pts dev proc; do umount -l "$root/$m" 2>/dev/null || true; done
  rm -f "$log.step"
  if [ -n "${KEEP_CHROOT:-}" ]; then echo "chroot kept: $root (log: $log)"; return; fi
  rm -rf --one-file-system "$root" "$log"
}
trap cleanup EXIT

failures=0
# The commands' own output goes to the log, shown when a check fails.
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  : >"$log.step"
  if "$@" >>"$log.step" 2>&1; then
    echo "PASS  $what"
  else
    echo "FAIL  $what"
    tail -n 15 "$log.step" | sed 's/^/      /'
    failures=$((failures + 1))
  fi
  cat "$log.step" >>"$log"
}
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
as_player() { in_root setpriv --reuid=player --regid=player --init-groups env HOME=/home/player DISPLAY=:7 "$@"; }
# Waits up to 20 s for `xwininfo -root -tree` to match PATTERN COUNT times.
windows() { in_root xwininfo -display :7 -root -tree 2>/dev/null | grep -cE -- "$1" || true; }
wait_windows() {
  for _ in $(seq 100); do [ "$(windows "$1")" -eq "$2" ] && return 0; sleep 0.2; done
  return 1
}

echo "Making a fresh bookworm in $root (a few minutes)"
debootstrap --variant=minbase bookworm "$root" "$mirror" >>"$log" 2>&1 || { tail -n 20 "$log"; exit 1; }
{
  echo "deb $mirror bookworm main"
  echo "deb $mirror bookworm-updates main"
  [ -z "$security" ] || echo "deb $security bookworm-security main"
} >"$root/etc/apt/sources.list"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/"
in_root apt-get update -qq >>"$log" 2>&1

echo "Installing $(basename "$deb") with its dependencies alone (no recommends)"
check "apt-get install ./$(basename "$deb")" \
  in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")"
in_root dpkg -L dustmaw | while read -r f; do [ -d "$root$f" ] || echo "$f"; done >"$root/tmp/files"
version=$(dpkg-deb -f "$deb" Version)
check "dustmaw-cli --version prints dustmaw-cli $version" \
  test "$(in_root dustmaw-cli --version)" = "dustmaw-cli $version"
check "a Japanese font came with it ($(in_root fc-list :lang=ja family 2>/dev/null | head -n 1))" \
  test -n "$(in_root fc-list :lang=ja family 2>/dev/null)"

# The display and the user are the test's own, not the package's.
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb x11-utils xauth >>"$log" 2>&1
in_root useradd -m player
in_root Xvfb :7 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
sleep 2
# The hero's own window: the program's class and the figure's size.
hero='\("dustmaw" .* 54x50\+'
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/dustmaw.desktop")
as_player sh -c "$exec_line" >/dev/null 2>&1 &
check "the desktop entry's Exec ($exec_line) shows the hero" wait_windows "$hero" 1
kill_in_root TERM dustmaw
check "the hero ends on SIGTERM" wait_windows "$hero" 0
check "it wrote DM.ini in the user's home" test -f "$root/home/player/.local/share/dustmaw/DM.ini"

check "dustmaw-cli autostart on" as_player dustmaw-cli autostart on
autostart=$root/home/player/.config/autostart/dustmaw.desktop
auto_exec=$(sed -n 's/^Exec=//p' "$autostart" 2>/dev/null || true)
check "the autostart entry starts the installed program (Exec=$auto_exec)" test "$auto_exec" = dustmaw
as_player sh -c "$auto_exec" >/dev/null 2>&1 &
check "the autostart entry's Exec shows the hero" wait_windows "$hero" 1
as_player sh -c "$exec_line" >/dev/null 2>&1 &
check "a second start is refused with 起動エラー" wait_windows '"起動エラー"' 1
check "and shows no second hero" test "$(windows "$hero")" -eq 1
kill_in_root KILL dustmaw
wait_windows "$hero" 0 || true

check "apt-get remove dustmaw" in_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq dustmaw
left=$(while read -r f; do if [ -e "$root$f" ] || [ -L "$root$f" ]; then echo "$f"; fi; done <"$root/tmp/files")
check "no file of the package is left ($(wc -l <"$root/tmp/files") installed)" test -z "$left"
[ -z "$left" ] || echo "$left" | sed 's/^/      left: /'
check "the user's DM.ini, DM.rgn and autostart entry stay" \
  test -f "$root/home/player/.local/share/dustmaw/DM.ini" -a -f "$root/home/player/.local/share/dustmaw/DM.rgn" -a -f "$autostart"

if ((failures)); then echo "clean install check: $failures failed"; exit 1; fi
echo "clean install check: passed"
