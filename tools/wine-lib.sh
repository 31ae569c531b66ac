# Shared by the Wine runner and the README's commands. Sourced, not run.
#
# The Wine set-up: one 64-bit prefix whose 32-bit side (the product is a 32-bit DLL) comes from
# Debian's i386 Wine builds. System processes run 64-bit; the project's 32-bit programs run
# through the machine's i386 support.

TOVREL_WINE64=/usr/lib/wine/wine64
TOVREL_WINESERVER=/usr/lib/wine/wineserver64
# The 32-bit PE side of Wine, which the 64-bit tree does not carry.
TOVREL_WINE_I386_DLLS=/usr/lib/i386-linux-gnu/wine

# qemu's user-mode i386 emulator, for machines whose kernel runs no 32-bit code (and for
# tools/emulate-i386), registered with binfmt_misc for 32-bit x86 ELF programs.
TOVREL_QEMU_I386=/usr/bin/qemu-i386-static
tovrel_register_qemu_i386() {
  local binfmt="$1"
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  if [ -e "$binfmt/qemu-i386" ]; then
    echo 1 >"$binfmt/qemu-i386"
  else
    echo ":qemu-i386:M::$magic:$mask:$TOVREL_QEMU_I386:F" >"$binfmt/register"
  fi
}

# Whether 32-bit programs run through the emulator here: a registered emulator comes before the
# kernel's own loader.
tovrel_i386_emulated() {
  grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null
}

# Where wine-run --calibrate keeps its measurements of this machine for a prefix: one file for
# each way 32-bit code runs here.
tovrel_machine_file() {
  if tovrel_i386_emulated; then echo "$1/.tovrel-machine-emulated"; else echo "$1/.tovrel-machine-native"; fi
}

# With TOVREL_EMULATE_I386=1, a command runs again under tools/emulate-i386 (once).
#   tovrel_emulate_if_asked COMMAND [ARGS...]   (returns only when there is nothing to do)
tovrel_emulate_if_asked() {
  [ "${TOVREL_EMULATE_I386:-0}" = 1 ] && [ "${TOVREL_EMULATING:-0}" != 1 ] || return 0
  echo "tovrel: 32-bit programs run through qemu-i386 for this command (TOVREL_EMULATE_I386=1)" >&2
  exec "$(dirname "${BASH_SOURCE[0]}")/emulate-i386" "$@"
}

tovrel_wine_env() {
  export WINEPREFIX="$1"
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLPATH="$TOVREL_WINE_I386_DLLS"
  # No prompts to install Mono or Gecko: the project needs neither.
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# The test display's work area leaves a bar of this many pixels along the top of the screen, as a
# docked taskbar would: the dialog is seen to open centred in the work area and clear of the bar,
# not in the whole screen. Wine reads the work area from the root window's _NET_WORKAREA (the
# monitors' rcWork and SPI_GETWORKAREA; rcMonitor stays whole).
TOVREL_XVFB_BAR=48

# Prints the display number of a new Xvfb to stdout and its PID to the file $1; $2, if given, is
# the screen's size and depth (default 1024x768x24). The work area is the screen less the bar.
tovrel_start_xvfb() {
  local pidfile="$1" size="${2:-1024x768x24}" fifo dir display
  dir=$(mktemp -d)
  fifo="$dir/display"
  mkfifo "$fifo"
  # Without descriptor 9: a run lock held there must not outlive the run that took it.
  Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 9>&- &
  echo $! >"$pidfile"
  # Xvfb writes the display number it chose once it accepts connections.
  if ! read -r -t 30 display <"$fifo"; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
    rm -rf "$dir"
    echo "tovrel: Xvfb did not start within 30 s" >&2
    return 1
  fi
  rm -rf "$dir"
  local width="${size%%x*}" rest="${size#*x}"
  local height="${rest%%x*}"
  if ! xprop -display ":$display" -root -f _NET_WORKAREA 32c -set _NET_WORKAREA \
    "0, $TOVREL_XVFB_BAR, $width, $((height - TOVREL_XVFB_BAR))"; then
    kill "$(cat "$pidfile")" 2>/dev/null || true
    echo "tovrel: could not set the work area of display :$display (xprop, from x11-utils)" >&2
    return 1
  fi
  echo ":$display"
}

tovrel_stop_pid() {
  local pid
  pid=$(cat "$1" 2>/dev/null) || return 0
  kill "$pid" 2>/dev/null || true
  # Bounded wait for it to go.
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  rm -f "$1"
}

# Creates the prefix once. Concurrent callers wait for the first one. Only a prefix this function
# made (its marker inside) is ever removed or reused: a folder that holds anything else, such as a
# person's own Wine prefix, is refused. With TOVREL_WINE_TEMPLATE naming a ready prefix that the
# caller can read, the new prefix is the caller's copy of it: seconds, where making one takes
# minutes under emulation. (Wine makes the caller's profile folder in it at the first run.)
tovrel_prepare_prefix() {
  local prefix="$1"
  mkdir -p "$(dirname "$prefix")"
  (
    flock 8
    if [ -f "$prefix/.tovrel-ready" ]; then
      [ -f "$prefix/.tovrel-no-crash-dialog" ] || tovrel_no_crash_dialog "$prefix"
      exit 0
    fi
    if [ -e "$prefix" ] && [ ! -f "$prefix/.tovrel-creating" ] &&
       [ -n "$(ls -A "$prefix" 2>/dev/null || echo not-a-folder)" ]; then
      echo "tovrel: $prefix is not a Wine prefix of this project's (it has no .tovrel-ready);" \
           "refusing to use or remove it. Give --prefix a new or empty folder." >&2
      exit 1
    fi
    # Half made by an earlier run that was stopped: ours, so it goes.
    [ -f "$prefix/.tovrel-creating" ] && rm -rf "$prefix"
    local template="${TOVREL_WINE_TEMPLATE:-}"
    if [ -n "$template" ] && [ -f "$template/.tovrel-ready" ] && [ -f "$template.run.lock" ]; then
      echo "tovrel: creating the Wine prefix $prefix as a copy of $template" >&2
      mkdir -p "$prefix"
      touch "$prefix/.tovrel-creating"
      # Under the template's run lock: no run starts on it meanwhile. Its owner first waits for
      # its server to end, which writes the registry; another user copies it as it is (Wine
      # replaces a registry file whole, so a copy has the old one or the new one). Its
      # measurements and its server's files stay its own.
      (
        flock 9
        if [ -O "$template" ]; then WINEPREFIX="$template" "$TOVREL_WINESERVER" -w; fi
        tar -C "$template" --exclude='./.tovrel-machine-*' --exclude=./.tovrel-creating \
          --exclude=./wineserver --warning=no-file-changed -cf - . && exit 0
        # Exit status 1: a file changed while it was read.
        [ $? -eq 1 ]
      ) 9<"$template.run.lock" | tar -C "$prefix" --no-same-owner -xf - || exit 1
      rm -f "$prefix/.tovrel-creating"
      exit 0
    fi
    echo "tovrel: creating the Wine prefix $prefix (once; a few minutes)" >&2
    mkdir -p "$prefix"
    touch "$prefix/.tovrel-creating"
    tovrel_wine_env "$prefix"
    local log="$prefix/.tovrel-wineboot.log"
    if ! "$TOVREL_WINE64" wineboot -i >"$log" 2>&1 || ! "$TOVREL_WINESERVER" -w; then
      echo "tovrel: wineboot failed for $prefix; its output:" >&2
      cat "$log" >&2
      exit 1
    fi
    # Wine's own fonts, with Windows metrics; without them every face falls back to a wider
    # host font.
    cp /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/"
    # No window manager runs on the display: unmanaged windows map at once.
    "$TOVREL_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    tovrel_no_crash_dialog "$prefix"
    rm -f "$prefix/.tovrel-creating" "$log"
    touch "$prefix/.tovrel-ready"
  ) 8>"$prefix.create.lock"
}

# A program that crashes ends at once, with Wine's backtrace in its output, instead of waiting for
# a click on the crash dialog on a display nobody sees. (Prefixes made before this setting get it
# on their next use.) Where 32-bit code is emulated, the backtrace costs a start of the 32-bit
# debugger, about a minute; the project's test programs end at once there themselves
# (host/CrashReport.hpp). The 64-bit debugger cannot follow an emulated program: the
# program's exit code then reads 0.
tovrel_no_crash_dialog() (
  tovrel_wine_env "$1"
  "$TOVREL_WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 &&
    "$TOVREL_WINESERVER" -w && touch "$1/.tovrel-no-crash-dialog"
)

# Set-up needs root; nothing else does. A command started as root in a checkout that an ordinary
# user owns goes on as that user (after its set-up step), so that what it makes, the build trees
# and the Wine prefix, stays the owner's and a later run as the owner works.
#   tovrel_run_as_owner CHECKOUT COMMAND [ARGS...]   (returns only when there is nothing to change)
tovrel_run_as_owner() {
  local checkout="$1" uid gid home
  shift
  [ "$(id -u)" -eq 0 ] || return 0
  uid=$(stat -c %u "$checkout")
  gid=$(stat -c %g "$checkout")
  [ "$uid" -ne 0 ] || return 0
  home=$(getent passwd "$uid" | cut -d: -f6) || true
  echo "tovrel: going on as the checkout's owner (uid $uid)" >&2
  # What an earlier run as root left behind becomes the owner's too.
  [ ! -e "$checkout/build" ] || chown -R "$uid:$gid" "$checkout/build"
  exec setpriv --reuid="$uid" --regid="$gid" --clear-groups \
    env HOME="${home:-$checkout/build}" USER="$(id -nu "$uid" 2>/dev/null || echo "$uid")" "$@"
}

# The display the Wine programs use: a private Xvfb, unless TOVREL_USE_DISPLAY=1 asks for the
# current $DISPLAY. The programs move the pointer and take the foreground: on a person's desktop
# their input would break the tests, and the tests would disturb the person.
tovrel_wants_own_display() {
  [ "${TOVREL_USE_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]
}
