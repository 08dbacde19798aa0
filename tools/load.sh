#!/usr/bin/env bash
# tools/load.sh COMMAND [ARGS...]: runs the command on a machine loaded with
# one busy loop per core, to show that tests pass however slow the machine
# is. The loops end however the command ends (its own end, a failure, ^C or
# a kill of this script), and the script exits with the command's status.
# LOAD_LOOPS=N sets the number of loops (default: one per core).
set -u
if [ "$#" -eq 0 ]; then
  echo "usage: tools/load.sh COMMAND [ARGS...]" >&2
  exit 2
fi
loops="${LOAD_LOOPS:-$(nproc 2>/dev/null || echo 4)}"
pids=()
cmd=""
stop() {
  # A signal to this script ends the command too.
  if [ -n "$cmd" ]; then kill "$cmd" 2>/dev/null || true; fi
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  pids=()
}
trap stop EXIT
trap 'stop; exit 130' INT
trap 'stop; exit 143' TERM
for _ in $(seq "$loops"); do
  # A subshell that only spins: no output, no files.
  ( trap - INT TERM EXIT; while :; do :; done ) &
  pids+=($!)
done
echo "load.sh: $loops busy loops running (pids ${pids[*]})" >&2
# In the background so that a signal reaches the traps at once.
"$@" &
pid=$!
cmd=$pid
wait "$pid"
status=$?
cmd=""
exit "$status"
