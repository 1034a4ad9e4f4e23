#!/usr/bin/env bash
# CI: builds the Debian package, checks it (lintian, desktop-file-validate, appstreamcli),
# installs it with apt, runs it as a throw-away normal user (once without a display, once
# under Xvfb with a pseudo-terminal as its port), then removes the package and the user.
# The machine is left as it was: a package or user that was already there is not touched.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "package-check: run as root" >&2; exit 2; }
"$here/scripts/install-deps.sh" build test package

deb=$("$here/scripts/package.sh" "${STBMATE_PACKAGE_BUILD_DIR:-$here/build/package}" | tail -n1)
echo "== package: $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
grep -q '^Depends:.*libqt6widgets6' <(dpkg-deb --field "$deb") \
  || { echo "Depends was not computed from the binary" >&2; exit 1; }

echo "== lintian"
# Errors fail the check; warnings are shown for people to read.
lintian --fail-on error --tag-display-limit 0 "$deb"

echo "== desktop entry and metainfo"
unpacked=$(mktemp -d)
user=""
installed_here=0
cleanup() {
  set +e
  for pid in ${app_pid:-} ${xvfb_pid:-} ${pty_pid:-}; do kill "$pid" 2>/dev/null; done
  for pid in ${app_pid:-} ${xvfb_pid:-} ${pty_pid:-}; do wait "$pid" 2>/dev/null; done
  [ -n "${xvfb_pid:-}${app_pid:-}${pty_pid:-}" ] && sleep 1
  [ -n "$user" ] && userdel -r "$user" 2>/dev/null
  [ "$installed_here" -eq 1 ] && apt-get remove -y -q --purge stbmate >/dev/null
  rm -rf "$unpacked"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$unpacked"
desktop-file-validate "$unpacked/usr/share/applications/stbmate.desktop"
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml
test -s "$unpacked/usr/share/icons/hicolor/scalable/apps/stbmate.svg"
test -s "$unpacked/usr/share/stbmate/stbmate.ini"

echo "== install with apt"
if dpkg-query -W -f='${Status}' stbmate 2>/dev/null | grep -q 'install ok installed'; then
  echo "package-check: stbmate is already installed on this machine; not touching it" >&2
  exit 1
fi
installed_here=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb"
test -x /usr/bin/stbmate
helper=/usr/libexec/stbmate/stbmate-port69
test -x "$helper"

echo "== help for a package user: the manual page and the README"
test -s /usr/share/doc/stbmate/README.md
if command -v man >/dev/null; then
  man -P cat stbmate | grep -q 'dialout' || { echo "man stbmate does not show the page" >&2; exit 1; }
else
  zcat /usr/share/man/man1/stbmate.1.gz | grep -q '^\.TH STBMATE 1'
fi
[ "$(stat -c '%U:%G %a' "$helper")" = "root:dialout 750" ] \
  || { echo "the port helper is not root:dialout 0750: $(stat -c '%U:%G %a' "$helper")" >&2; exit 1; }

echo "== capabilities: the port helper has exactly one, the program none"
getcap "$helper"
[ "$(getcap "$helper" | awk '{print $2}')" = "cap_net_bind_service=ep" ] \
  || { echo "the port helper lacks cap_net_bind_service" >&2; exit 1; }
[ -z "$(getcap /usr/bin/stbmate)" ] || { echo "the program carries a capability" >&2; exit 1; }

user="stbcheck$$"
useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
as_user() {
  setpriv --reuid="$user" --regid="$user" --init-groups \
    env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin "$@"
}
# Started in the background from here (not in a subshell), so bg_pid is the program's own
# pid: setpriv and env exec in place.
as_user_bg() {
  setpriv --reuid="$user" --regid="$user" --init-groups \
    env -i HOME="$home" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin "$@" &
  bg_pid=$!
}

echo "== the installed helper: refused to $user outside dialout"
set +e
setpriv --reuid="$user" --regid="$user" --clear-groups env -i "$helper" 127.0.0.1 69 2>/dev/null
refused=$?
set -e
[ "$refused" -eq 126 ] || { echo "a user outside dialout ran the helper (exit $refused)" >&2; exit 1; }

echo "== the installed helper passes port 69 to $user in dialout (a network namespace of its own)"
# The helper is run by a process with no capability; it must bind port 69 and pass it back.
dialout=$(getent group dialout | cut -d: -f3)
unshare -n sh -c 'ip link set lo up && exec "$@"' sh \
  setpriv --reuid="$user" --regid="$user" --groups="$dialout" env -i python3 -c '
import array, os, socket, subprocess, sys
caps = [l for l in open("/proc/self/status") if l.startswith("CapEff:")][0].split()[1]
assert int(caps, 16) == 0, caps
os.open("/dev/null", os.O_RDONLY)  # holds fd 3, so the pair cannot land there
mine, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
os.dup2(theirs.fileno(), 3, inheritable=True)
done = subprocess.run([sys.argv[1], "127.0.0.1", "69"], pass_fds=[3])
assert done.returncode == 0, done.returncode
_, ancillary, _, _ = mine.recvmsg(1, socket.CMSG_LEN(4))
port = socket.socket(fileno=array.array("i", ancillary[0][2])[0])
assert port.getsockname() == ("127.0.0.1", 69), port.getsockname()
print("port 69 passed to uid", os.getuid())' "$helper"

echo "== stbmate --version as $user without a display"
version=$(as_user stbmate --version)
echo "$version"
[ "$version" = "stbmate $(dpkg-deb --field "$deb" Version)" ]
as_user stbmate --help | grep -q -- '--version'

echo "== first start under Xvfb with a pseudo-terminal as the port"
# The user's settings are prepared from the shipped default, only the port changed, so the
# program never reaches for the machine's own serial ports.
pty_file=$(mktemp)
chown "$user" "$pty_file"
as_user_bg python3 -c '
import os, pty, sys, time
master, slave = pty.openpty()
open(sys.argv[1], "w").write(os.ttyname(slave) + "\n")
time.sleep(120)' "$pty_file"
pty_pid=$bg_pid
for _ in $(seq 50); do [ -s "$pty_file" ] && break; sleep 0.1; done
pts=$(cat "$pty_file"); rm -f "$pty_file"
case "$pts" in /dev/pts/*) ;; *) echo "no pseudo-terminal: '$pts'" >&2; exit 1 ;; esac
as_user mkdir -p "$home/.config/stbmate"
as_user mkdir -m 700 "$home/.run"
sed "s|^ComPort=.*|ComPort=$pts|" /usr/share/stbmate/stbmate.ini \
  | as_user tee "$home/.config/stbmate/stbmate.ini" >/dev/null

n=90
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
display=":$n"
as_user_bg Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp
xvfb_pid=$bg_pid
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
as_user_bg env DISPLAY="$display" XDG_RUNTIME_DIR="$home/.run" stbmate
app_pid=$bg_pid
ok=0
for _ in $(seq 100); do
  if ls "$home"/.local/state/stbmate/Logs/stbmate-*.log >/dev/null 2>&1 \
     && grep -q "installed mode" "$home"/.local/state/stbmate/Logs/stbmate-*.log; then
    ok=1; break
  fi
  sleep 0.2
done
kill -0 "$app_pid" 2>/dev/null || { echo "stbmate ended early" >&2; exit 1; }
[ "$ok" -eq 1 ] || { echo "no log in ~/.local/state/stbmate/Logs" >&2; exit 1; }
test -f "$home/.config/stbmate/stbmate.ini"
grep -q "^ComPort=$pts" "$home/.config/stbmate/stbmate.ini"
cat "$home"/.local/state/stbmate/Logs/stbmate-*.log
kill "$app_pid"; wait "$app_pid" 2>/dev/null || true; app_pid=""

echo "== remove"
trap - EXIT
cleanup
app_pid="" xvfb_pid="" pty_pid=""
if dpkg-query -W -f='${Status}' stbmate 2>/dev/null | grep -q 'install ok installed'; then
  echo "package-check: stbmate is still installed" >&2; exit 1
fi
if getent passwd "$user" >/dev/null || [ -e "$home" ] || [ -e "/tmp/.X$n-lock" ]; then
  echo "package-check: user $user or $home is still there" >&2; exit 1
fi
echo "package-check: OK"
