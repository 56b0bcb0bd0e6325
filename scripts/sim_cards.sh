# Simulated cards for the demonstration, the benchmarks and the Windows
# tests (sim/sim_card.py); sourced.
#   sim_setup DIR CARDS ZEL_BYTES APP_BYTES RESTART_S [ZEL_NAME APP_NAME]
#       writes DIR's modules, inputs and cards.json (scripts/sim_setup.py)
#   sim_start LIFETIME_S [SIM_OPTION...]
#       in DIR, inside a network namespace of the caller's with loopback up:
#       starts the cards, which end by themselves after LIFETIME_S, and
#       waits (10 s at most) until they listen
#   sim_stop
#       stops them by their pid
sim_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

sim_setup() {
  /usr/bin/python3 "$sim_root/scripts/sim_setup.py" "$@"
}

sim_start() {
  /usr/bin/python3 "$sim_root/sim/sim_card.py" --cards cards.json \
    --ready-file ready --lifetime "$@" &
  sim_pid=$!
  local i
  for i in $(seq 200); do
    [ -f ready ] && return 0
    sleep 0.05
  done
  echo "the simulated cards did not start" >&2
  sim_stop
  return 1
}

sim_stop() {
  kill "$sim_pid" 2> /dev/null || true
  wait "$sim_pid" 2> /dev/null || true
}
