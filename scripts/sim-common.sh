# Sourced by the demo scripts: starts the stand-in marketplace on a free loopback port.
# start_sim SIM_BINARY HOME_FOLDER LOG_FILE [SIM OPTIONS...]
# writes HOME_FOLDER/options/site.ini, sets sim_pid and port, and stops the stand-in when
# the script exits.
start_sim() {
  local sim=$1 home=$2 log=$3
  shift 3
  mkdir -p "$home/options"
  local port_file="$home/sim.port"
  rm -f "$port_file"
  "$sim" --port 0 "$@" --site-ini "$home/options/site.ini" >"$port_file" 2>"$log" &
  sim_pid=$!
  trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 1 100); do
    [ -s "$port_file" ] && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$log" >&2; exit 1; }
    sleep 0.1
  done
  port=$(head -n1 "$port_file")
}
