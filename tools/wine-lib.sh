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
# Otherwise it is a copy of the one this user's machine cache holds for this Wine (below), if any;
# else it is made, and a copy of it goes to that cache.
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
    tovrel_prefix_from_cache "$prefix" && exit 0
    echo "tovrel: creating the Wine prefix $prefix (once; a few minutes)" >&2
    mkdir -p "$prefix"
    touch "$prefix/.tovrel-creating"
    tovrel_make_prefix "$prefix" || exit 1
    rm -f "$prefix/.tovrel-creating"
    touch "$prefix/.tovrel-ready"
    tovrel_prefix_to_cache "$prefix"
  ) 8>"$prefix.create.lock"
}

# What a new prefix is: Wine's own, with Wine's fonts, no window-manager wait and no crash dialog.
# (The machine cache's key holds this function's text: a change here makes new prefixes.)
tovrel_make_prefix() (
  local prefix="$1" log="$1/.tovrel-wineboot.log"
  tovrel_wine_env "$prefix"
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
  rm -f "$log"
)

# The machine cache of new prefixes. Making a prefix is wineboot's work of minutes under
# emulation, and the same for every checkout of one user on one machine with one Wine: so the
# first prefix made is kept, as it was when new, in the user's cache folder
# (${XDG_CACHE_HOME:-~/.cache}/tovrel/wine-prefixes, or TOVREL_WINE_CACHE; TOVREL_WINE_CACHE=off
# keeps none), and later prefixes are copies of it. An entry is named by what makes a prefix:
# the user, Wine's packages (amd64 and i386) and their versions, and the recipe above; another
# Wine or recipe finds no entry and makes its own. Only the two entries used last are kept. An
# entry is written whole elsewhere in the cache and renamed into place, so a stopped run leaves no
# half entry under a name; a copy is checked file by file against the list of files, sizes and
# links the entry was made with (and the registry's checksums), and an entry that fails is
# removed and the prefix made anew. Nothing outside the cache folder's own entries (each marked
# .tovrel-cache) is ever removed.
tovrel_prefix_cache_dir() {
  case "${TOVREL_WINE_CACHE:-}" in
    off | 0 | no) return 1 ;;
    "") [ -n "${XDG_CACHE_HOME:-}${HOME:-}" ] || return 1
        echo "${XDG_CACHE_HOME:-$HOME/.cache}/tovrel/wine-prefixes" ;;
    *) echo "$TOVREL_WINE_CACHE" ;;
  esac
}
tovrel_prefix_cache_key() {
  local versions
  versions=$(dpkg-query -W -f='${Package}:${Architecture} ${Version}\n' \
    wine64 wine32:i386 libwine:amd64 libwine:i386 2>/dev/null || true)
  [ -n "$versions" ] || versions=$("$TOVREL_WINE64" --version 2>/dev/null) || return 1
  printf '%s\n' "$("$TOVREL_WINE64" --version 2>/dev/null | cut -d' ' -f1 | tr -c 'A-Za-z0-9.\n' -)-$(
    { echo "uid $(id -u)"; echo "$versions"; declare -f tovrel_make_prefix tovrel_no_crash_dialog; } |
      sha256sum | cut -c1-16)"
}
# What a copy must hold: every file with its size, every link with its target, the registry's
# checksums; the cache's own marks and what belongs to one prefix's use left out.
tovrel_prefix_manifest() (
  cd "$1" &&
    find . \( -path ./.tovrel-cache -o -path ./.tovrel-cache-files -o -path ./.tovrel-ready \
      -o -path './.tovrel-machine-*' -o -path ./.tovrel-creating -o -path ./wineserver \) -prune \
      -o \( -type f -printf '%p %s\n' \) -o \( -type l -printf '%p -> %l\n' \) | LC_ALL=C sort &&
    sha256sum ./*.reg
)
tovrel_prefix_from_cache() {
  local prefix="$1" cache key entry status=0
  cache=$(tovrel_prefix_cache_dir) && key=$(tovrel_prefix_cache_key) || return 1
  entry="$cache/$key"
  [ -f "$entry/.tovrel-cache" ] || return 1
  (
    # Shared: no entry is written or removed meanwhile.
    flock -s 7
    [ -f "$entry/.tovrel-cache" ] || exit 1
    echo "tovrel: creating the Wine prefix $prefix as a copy of $entry (made once for this Wine)" >&2
    mkdir -p "$prefix"
    touch "$prefix/.tovrel-creating"
    if cp -a --reflink=auto "$entry/." "$prefix/" 2>/dev/null &&
       rm -f "$prefix/.tovrel-cache" "$prefix/.tovrel-cache-files" &&
       cmp -s <(tovrel_prefix_manifest "$prefix") "$entry/.tovrel-cache-files"; then
      touch "$entry/.tovrel-cache"
      exit 0
    fi
    rm -rf "$prefix"
    exit 2
  ) 7>>"$cache/.lock" || status=$?
  case $status in
    0) rm -f "$prefix/.tovrel-creating"
       touch "$prefix/.tovrel-ready"
       return 0 ;;
    2) echo "tovrel: the cached prefix $entry is incomplete or damaged; removing it" >&2
       (flock 7; [ ! -f "$entry/.tovrel-cache" ] || rm -rf "$entry") 7>>"$cache/.lock" ;;
  esac
  return 1
}
tovrel_prefix_to_cache() {
  local prefix="$1" cache key entry
  cache=$(tovrel_prefix_cache_dir) && key=$(tovrel_prefix_cache_key) || return 0
  entry="$cache/$key"
  mkdir -p "$cache" 2>/dev/null || return 0
  (
    flock 7
    # Entries half written by runs that were stopped: nobody writes one without this lock.
    find "$cache" -mindepth 1 -maxdepth 1 -name '.new.*' -type d -exec rm -rf {} +
    [ ! -e "$entry" ] || exit 0
    new=$(mktemp -d "$cache/.new.XXXXXX") || exit 0
    if cp -a --reflink=auto "$prefix/." "$new/" 2>/dev/null &&
       rm -f "$new/.tovrel-ready" "$new"/.tovrel-machine-* "$new/wineserver" &&
       tovrel_prefix_manifest "$new" >"$new/.tovrel-cache-files" &&
       { "$TOVREL_WINE64" --version; echo "made from $prefix on $(date -u +%F)"; } >"$new/.tovrel-cache" &&
       mv -T "$new" "$entry" 2>/dev/null; then
      echo "tovrel: kept a copy of the new prefix for later checkouts: $entry" >&2
      # Only the two entries used last stay (another Wine's, another recipe's).
      ls -1dt "$cache"/*/.tovrel-cache 2>/dev/null | tail -n +3 | while read -r mark; do
        rm -rf "$(dirname "$mark")"
      done
    else
      rm -rf "$new"
    fi
  ) 7>>"$cache/.lock" || true
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
