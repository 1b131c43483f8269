#!/bin/sh
# Sets up, builds and runs the program. Without a display it starts a virtual
# one, waits until the main window shows the painted page, saves a screenshot
# of it, prints where, and ends the program cleanly. With a display it simply
# runs the program.
#
# Environment: VESK_DEMO_PROGRAM runs that program instead of building one
# (no set-up); VESK_SCREENSHOT names the picture; VESK_DEMO_HEADLESS=1 uses a
# virtual display even when there is one.
set -eu
cd "$(dirname "$0")/.."
if [ -n "${VESK_DEMO_PROGRAM:-}" ]; then
  PROGRAM=$VESK_DEMO_PROGRAM
else
  scripts/setup.sh build
  PROGRAM=build/program/pelicard
fi

if [ -n "${DISPLAY:-}" ] && [ -z "${VESK_DEMO_HEADLESS:-}" ]; then
  exec "$PROGRAM" "$@"
fi

exec dbus-run-session -- sh -c '
  set -eu
  PROGRAM=$1; shift
  SHOT=${VESK_SCREENSHOT:-$PWD/build/screenshot.png}
  WORK=$(mktemp -d)
  # A display number the server picks itself, so demos and tests running
  # side by side never share one.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
  XVFB=$!
  trap "kill \$XVFB 2>/dev/null || true; rm -rf \"\$WORK\"" EXIT
  for i in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(cat "$WORK/display")" GDK_BACKEND=x11 NO_AT_BRIDGE=1
  for i in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  # A compositing manager, as on a desktop, so the translucent shadow shows.
  if command -v xcompmgr >/dev/null; then xcompmgr >/dev/null 2>&1 & fi
  # A light background, so the picture shows the window and its shadow.
  xsetroot -solid "#dfe6ee" 2>/dev/null || true
  # The first page decides when the window shows; the demo does not wait for it.
  "$PROGRAM" --force-show-window "$@" &
  APP=$!
  # The largest visible managed window of the process is the host.
  largest() {
    best=""; best_area=0
    for w in $(xdotool search --onlyvisible --pid "$APP" 2>/dev/null); do
      # The shadow is an override-redirect popup; the host is not.
      xwininfo -id "$w" | grep -q "Override Redirect State: yes" && continue
      eval "$(xdotool getwindowgeometry --shell "$w")"
      if [ $((WIDTH * HEIGHT)) -gt "$best_area" ]; then best=$w; best_area=$((WIDTH * HEIGHT)); fi
    done
    echo "$best"
  }
  fail() {
    echo "$1" >&2
    kill "$APP" 2>/dev/null || true
    exit 1
  }
  WINDOW=""
  for i in $(seq 300); do
    WINDOW=$(largest)
    [ -n "$WINDOW" ] && break
    sleep 0.1
  done
  [ -n "$WINDOW" ] || fail "pelicard showed no window"
  # The window is painted once it is no longer one flat colour and two
  # pictures of it in a row agree (the first start of a fresh machine builds
  # font caches and may take a while for its first frame).
  window_picture() {
    WINDOW=$(largest)
    [ -n "$WINDOW" ] || return 1
    eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
    import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage "$1" 2>/dev/null
  }
  flat() {
    spread=$(convert "$1" -colorspace Gray -format "%[fx:standard_deviation]" info: 2>/dev/null || echo 0)
    awk -v s="$spread" "BEGIN { exit !(s < 0.02) }"
  }
  painted=""
  rm -f "$WORK/previous.png"
  for i in $(seq 600); do
    if window_picture "$WORK/current.png" && ! flat "$WORK/current.png"; then
      if [ -f "$WORK/previous.png" ] &&
         [ "$(compare -metric AE "$WORK/previous.png" "$WORK/current.png" null: 2>&1 || true)" = "0" ]; then
        painted=1
        break
      fi
      mv "$WORK/current.png" "$WORK/previous.png"
    fi
    sleep 0.2
  done
  [ -n "$painted" ] || fail "the main window never showed a painted page"
  eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
  # The window with a margin around it, where its shadow lies.
  X0=$((X > 24 ? X - 24 : 0)); Y0=$((Y > 24 ? Y - 24 : 0))
  import -window root -crop "$((WIDTH + 48))x$((HEIGHT + 48))+$X0+$Y0" +repage "$SHOT"
  echo "Screenshot of the main window saved to $SHOT"
  kill -TERM "$APP"
  wait "$APP"
  echo "pelicard ended with exit code $?"
' demo "$PROGRAM" "$@"
