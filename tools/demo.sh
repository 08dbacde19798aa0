#!/usr/bin/env bash
# The demo: dvr-sim on loopback, the control registered and opened on it in
# tavlin-host through a small page. Without a display it runs offscreen
# for a few seconds and writes a screenshot.
set -euo pipefail
build="$1"
bin="$build/bin"
demo="$build/demo"
mkdir -p "$demo"
export TAVLIN_REGISTRY="$demo/registry"
export systemroot="$build/winroot"
# Backups are written into this profile's AppData/LocalLow first.
export USERPROFILE="$demo/profile"

"$bin/dvr-sim" --port 0 --trace --titles --show-titles >"$demo/dvr-sim.log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
port=""
for _ in $(seq 200); do
  port="$(sed -n 's/^listening on 127\.0\.0\.1://p' "$demo/dvr-sim.log")"
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { echo "dvr-sim did not start; see $demo/dvr-sim.log" >&2; exit 1; }
echo "dvr-sim listening on 127.0.0.1:$port (trace in $demo/dvr-sim.log)"

# The No-IP service stand-in that the DDNS page's account form talks to.
python3 "$(dirname "$0")/noip-sim/noip_server.py" --port 0 --log "$demo/noip-sim.log" >"$demo/noip-sim.out" 2>&1 &
noip=$!
trap 'kill $sim $noip 2>/dev/null || true' EXIT
noip_port=""
for _ in $(seq 200); do
  noip_port="$(sed -n 's/^PORT //p' "$demo/noip-sim.out" 2>/dev/null || true)"
  [ -n "$noip_port" ] && break
  sleep 0.05
done
[ -n "$noip_port" ] || { echo "noip-sim did not start; see $demo/noip-sim.out" >&2; exit 1; }
export TAVLIN_NOIP_API_HOST=127.0.0.1 TAVLIN_NOIP_API_PORT="$noip_port"
echo "No-IP service stand-in on 127.0.0.1:$noip_port (requests in $demo/noip-sim.log)"

"$bin/tavlin-host" --register "$build/lib/TavlinProj1.so" >/dev/null
# The user key of level 9 opens all four pages of the key panel.
cat >"$demo/page.html" <<HTML
<html><body>
<object id="TavlinX" classid="clsid:{6E763B03-CC89-4D06-8415-AF1DBA3A844D}" width="1010" height="656">
  <param name="DVRIP" value="127.0.0.1">
  <param name="HTTP_PORT" value="$port">
  <param name="DVR_UK" value="9.1234.5678">
  <param name="HTTP_PAGE" value="0">
</object>
</body></html>
HTML

# A movie to open from the Backup page's OPEN MOVIE button: 30 s of channel
# 1 as a backup writes it.
"$bin/dvr-sim" --dump-frames "$demo/frames" --seconds 30 >/dev/null
"$bin/tavlin-mov" "$demo/frames" "$demo/sample.mov" >/dev/null
echo "a movie to open from the Backup page (OPEN MOVIE): $demo/sample.mov"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "opening $demo/page.html in tavlin-host; close the window to stop"
  "$bin/tavlin-host" --page "$demo/page.html"
else
  shot="$demo/screenshot.png"
  echo "no display: running the control offscreen until its pictures and time show"
  # Each run waits for the first picture and the time over it (the link
  # up), however long the machine takes.
  up=(--wait-video 60000 --wait-text '354,30,60000,*:*:*')
  QT_QPA_PLATFORM=offscreen "$bin/tavlin-host" --page "$demo/page.html" "${up[@]}" --screenshot "$shot" --after-ms 0
  echo "screenshot: $shot"
  # The Playback page (its key lit): the calendar marks the days the
  # recorder holds a moment later.
  playback="$demo/playback.png"
  QT_QPA_PLATFORM=offscreen "$bin/tavlin-host" --page "$demo/page.html" "${up[@]}" --click 799,46,0 \
    --wait-pixel 768,50,60000,2B6DB1 --screenshot "$playback" --after-ms 1500
  echo "screenshot of the Playback page: $playback"
  # The movie opened from the Backup page and played, then stepped 5 s on.
  local_shot="$demo/localplay.png"
  QT_QPA_PLATFORM=offscreen "$bin/tavlin-host" --page "$demo/page.html" --answer "open=$demo/sample.mov" \
    "${up[@]}" --click 877,46,0 --wait-pixel 850,50,60000,2B6DB1 --click 942,162,0 --click 804,187,1600 \
    --screenshot "$local_shot" --after-ms 2600
  echo "screenshot of the movie playing: $local_shot"
fi
