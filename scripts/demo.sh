#!/bin/sh
# Sets up, builds and runs the program. Without a display it starts a virtual
# one, waits for the main window, saves a screenshot of it, prints where, and
# ends the program cleanly. With a display it simply runs the program.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh build
PROGRAM=build/program/pelicard

if [ -n "${DISPLAY:-}" ] && [ -z "${VESK_DEMO_HEADLESS:-}" ]; then
  exec "$PROGRAM" "$@"
fi

exec dbus-run-session -- sh -c '
  set -eu
  PROGRAM=$1; shift
  SHOT=${VESK_SCREENSHOT:-$PWD/build/screenshot.png}
  Xvfb :93 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB=$!
  trap "kill \$XVFB 2>/dev/null || true" EXIT
  export DISPLAY=:93 GDK_BACKEND=x11 NO_AT_BRIDGE=1
  for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
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
  WINDOW=""
  for i in $(seq 100); do
    WINDOW=$(largest)
    [ -n "$WINDOW" ] && break
    sleep 0.1
  done
  if [ -z "$WINDOW" ]; then
    echo "pelicard showed no window" >&2
    kill "$APP" 2>/dev/null || true
    exit 1
  fi
  # Give the page time to render before the picture is taken.
  for i in $(seq 100); do
    grep -q "Load finished: vesk" "$(dirname "$PROGRAM")/pelicard.log" 2>/dev/null && break
    sleep 0.1
  done
  sleep 1
  WINDOW=$(largest)
  eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
  # The window with a margin around it, where its shadow lies.
  X0=$((X > 24 ? X - 24 : 0)); Y0=$((Y > 24 ? Y - 24 : 0))
  import -window root -crop "$((WIDTH + 48))x$((HEIGHT + 48))+$X0+$Y0" +repage "$SHOT"
  echo "Screenshot of the main window saved to $SHOT"
  kill -TERM "$APP"
  wait "$APP"
  echo "pelicard ended with exit code $?"
' demo "$PROGRAM" "$@"
