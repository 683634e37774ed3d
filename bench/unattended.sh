#!/usr/bin/env bash
# Unattended work interrupted: the suite's cron tools killed (SIGKILL) at
# random moments during a 20-event schedule load and a 20-event sun
# correction, each kill followed by a normal run; two `cp290ctl plan`
# writers at once; three jobs started in the same second. Prints, for each
# trial, whether the device, the reference dates and the history came out as
# one complete run gives them, and a summary line per part.
#
#   bench/unattended.sh [BIN_DIR]      (default build/bin; TRIALS=20, BAUD=2400)
#
# Runs everything in a temporary home with a stand-in crontab(1): nothing of
# the user's is read or written. The emulator is paced (at BAUD) so that a
# kill lands in the middle of the line's traffic.
set -euo pipefail
bin=$(cd "${1:-build/bin}" && pwd)
trials=${TRIALS:-20}
baud=${BAUD:-2400}
work=$(mktemp -d)
simpid=""
cleanup() {
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export HOME=$work/home
export XDG_CONFIG_HOME=$HOME/.config XDG_STATE_HOME=$HOME/.local/state XDG_RUNTIME_DIR=$work/run
export CP290_APP_DIR=$bin/ CP290_CRONTAB=$work/crontab CP290_SERIAL_DEVICES=$work/cp290
export TZ=America/New_York CP290_NOW=1796536800   # Sunday 2026-12-06 01:00 in New York
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
state=$XDG_STATE_HOME/cp290

# crontab(1) stand-in: the installed crontab is a file; installs take 0.2 s.
cat > "$work/crontab" <<EOF
#!/bin/bash
case "\$1" in
  -l) [ -f "$work/installed" ] && exec cat "$work/installed"; echo "no crontab for \$USER" >&2; exit 1 ;;
  -r) rm -f "$work/installed" ;;
  *) sleep 0.2; cp "\$1" "$work/installed.new" && mv "$work/installed.new" "$work/installed" ;;
esac
EOF
chmod +x "$work/crontab"
printf '[General]\nSerial%%20Path=%s\n' "$work/cp290" > "$XDG_CONFIG_HOME/Lumbrasken.conf"

# Device memory files: "before" holds events 1-20 at 06:00 + n minutes, "file"
# the schedule's 20 events at 18:00 + n minutes on other units.
device_state() {  # hour units-byte
  echo "cp290-sim-state 1"; echo "status 01"; echo "base 60"
  for n in $(seq 1 20); do printf 'event %d 08 7F %02X %02X %s 00 60 02\n' "$n" "$1" "$n" "$2"; done
}
device_state 6 80 > "$work/before.state"
device_state 18 40 > "$work/file.state"

start_sim() {  # state file
  cp "$1" "$work/dev.state"
  "$bin/cp290-sim" --baud "$baud" --link "$work/cp290" --state "$work/dev.state" > "$work/sim.out" 2>&1 &
  simpid=$!
  for _ in $(seq 1 100); do grep -q ready "$work/sim.out" 2>/dev/null && return; sleep 0.05; done
  echo "emulator did not start" >&2; exit 1
}
stop_sim() { kill "$simpid"; wait "$simpid" 2>/dev/null || true; simpid=""; }
device_list() { "$bin/cp290ctl" --device "$work/cp290" list 2>/dev/null; }
last_history() { tail -n 1 "$state/runs.log" 2>/dev/null | cut -f 2- | cut -c 1-90; }
random_ms() { echo $(( RANDOM % $1 )); }

# Runs tool once unkilled: how long it takes (ms) and what it leaves.
timed_run() {
  local t0; t0=$(date +%s%N)
  "$bin/$1" > /dev/null 2>&1 || true
  echo $(( ($(date +%s%N) - t0) / 1000000 ))
}

killed_then_normal() {  # tool duration_ms
  "$bin/$1" > /dev/null 2>&1 &
  local pid=$! at; at=$(random_ms "$2")
  sleep "$(awk "BEGIN { print $at / 1000 }")"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  local status=0
  "$bin/$1" > /dev/null 2>&1 || status=$?
  echo "$at $status"
}

# --- the schedule load ---------------------------------------------------
start_sim "$work/file.state"
"$bin/cp290ctl" --device "$work/cp290" read "$work/Lights.sch" > /dev/null
stop_sim
"$bin/cp290ctl" plan schedule add 12/06 "$work/Lights.sch" > /dev/null
"$bin/cp290ctl" plan schedule time 1:00 > /dev/null
expected=$("$bin/cp290ctl" list "$work/Lights.sch")
start_sim "$work/before.state"; load_ms=$(timed_run brondile); stop_sim
echo "load: a complete run takes ${load_ms} ms at ${baud} baud; ${trials} runs killed at random, each followed by a normal run"
good=0
for i in $(seq 1 "$trials"); do
  start_sim "$work/before.state"
  read -r at status < <(killed_then_normal brondile "$load_ms")
  if [ "$(device_list)" = "$expected" ] && [ "$status" = 0 ]; then ok=yes; good=$((good + 1)); else ok=NO; fi
  printf '  load %2d: killed at %5d ms, next run exit %s, device as planned: %s; history: %s\n' \
    "$i" "$at" "$status" "$ok" "$(last_history)"
  stop_sim
done
echo "load: ${good} of ${trials} devices hold the planned schedule after the next run"
interrupted=$(grep -c $'\tbrondile\tinterrupted' "$state/runs.log" || true)
echo "load: ${interrupted} killed runs recorded as interrupted in the history"

# --- the sun correction ----------------------------------------------------
"$bin/cp290ctl" plan schedule remove 12/06 > /dev/null
nums=$(seq -s ', ' 1 20); ones=$(printf '1, %.0s' $(seq 1 19))1; zeros=$(printf '0, %.0s' $(seq 1 19))0
cat > "$work/Veskarn.conf" <<EOF
[General]
Events=20
Event%20Numbers=$nums
Corr%20Types=$ones
Corr%20DST=$zeros
Last%20Zone=$zeros
Last%20SU%20Mo=11
Last%20SU%20Da=6
Last%20SU%20Yr=2026
Latitude=40.75
Longitude=-73.98
EOF
reset_corrections() { cp "$work/Veskarn.conf" "$XDG_CONFIG_HOME/Veskarn.conf"; rm -f "$state"/*.journal; }
ref_dates() { grep '^Last%20SU' "$XDG_CONFIG_HOME/Veskarn.conf" | tr '\n' ' '; }
reset_corrections; start_sim "$work/before.state"; fix_ms=$(timed_run veskarn)
expected=$(device_list); expected_dates=$(ref_dates); stop_sim
echo "correction: a complete run takes ${fix_ms} ms; one correction moves event 1 from 06:01 to $(echo "$expected" | awk 'NR==2{print $2}')"
good=0
for i in $(seq 1 "$trials"); do
  reset_corrections; start_sim "$work/before.state"
  read -r at status < <(killed_then_normal veskarn "$fix_ms")
  if [ "$(device_list)" = "$expected" ] && [ "$(ref_dates)" = "$expected_dates" ] && [ "$status" = 0 ]; then
    ok=yes; good=$((good + 1)); else ok=NO; fi
  printf '  correction %2d: killed at %5d ms, next run exit %s, one shift and today'"'"'s dates: %s; history: %s\n' \
    "$i" "$at" "$status" "$ok" "$(last_history)"
  stop_sim
done
echo "correction: ${good} of ${trials} runs leave every event shifted once and the dates stored"

# --- two plan writers at once ----------------------------------------------
rm -f "$work/installed"
both=0 truthful=0 rounds=50
for i in $(seq 1 "$rounds"); do
  "$bin/cp290ctl" plan schedule add 01/01 "$work/Lights.sch" > /dev/null 2>&1 &
  a=$!
  "$bin/cp290ctl" plan clocksync 1,3,7 3:05 > /dev/null 2>&1 &
  b=$!
  sa=0; sb=0; wait "$a" || sa=$?; wait "$b" || sb=$?
  has_a=1; has_b=1
  grep -q "Lights.sch" "$work/installed" || has_a=0
  grep -q "^#s Quorvel" "$work/installed" || has_b=0
  [ "$has_a" = 1 ] && [ "$has_b" = 1 ] && both=$((both + 1))
  [ $(( sa == 0 )) = "$has_a" ] && [ $(( sb == 0 )) = "$has_b" ] && truthful=$((truthful + 1))
  rm -f "$work/installed"
done
echo "plan writers: both changes kept in ${both} of ${rounds} rounds; every exit status true to the crontab in ${truthful}"

# --- three jobs at one minute ----------------------------------------------
"$bin/cp290ctl" plan schedule add 12/06 "$work/Lights.sch" > /dev/null
all=0 rounds=5
for i in $(seq 1 "$rounds"); do
  reset_corrections; start_sim "$work/before.state"
  "$bin/tamsel" > /dev/null 2>&1 & t=$!
  "$bin/brondile" > /dev/null 2>&1 & b=$!
  "$bin/veskarn" > /dev/null 2>&1 & v=$!
  st=0; sb=0; sv=0; wait "$t" || st=$?; wait "$b" || sb=$?; wait "$v" || sv=$?
  echo "  three jobs $i: tamsel $st, brondile $sb, veskarn $sv"
  [ "$st$sb$sv" = 000 ] && all=$((all + 1))
  stop_sim
done
echo "three jobs: all three succeeded in ${all} of ${rounds} rounds"
