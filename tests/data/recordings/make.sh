#!/usr/bin/env bash
# Makes the simulator recordings that the precision report's tests replay, and their
# expected reports. Each recording is every byte the simulated receiver sent on its
# pseudo-terminal for two minutes, read at its rate (19200 baud) as a raw recording.
#
#   tests/data/recordings/make.sh [PATH-TO-kestrane-sim]   (default build/sim/kestrane-sim)
#
# gap.nmea       a fix lost for 15 s, 40 s after the simulator's first fix
# difflost.nmea  the differential corrections lost 60 s after the first fix
#
# The simulated receiver moves (1 to 4 m/s), so its CEP95 is large: one of the tests
# that pass or fail an installation relies on that. The recordings carry the time they
# were made, so making them again changes their bytes, and their expected reports with
# them (the figures the tests name come from those reports).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sim=${1:-build/sim/kestrane-sim}
seconds=120

# record NAME SIMULATOR-OPTIONS...
record() {
    local name=$1
    shift
    coproc SIM { exec "$sim" --nmea 0x1F "$@"; }
    local device
    read -r device <&"${SIM[0]}"
    python3 - "$device" "$seconds" "$here/$name" <<'EOF'
import os, select, sys, termios, time, tty
device, seconds, path = sys.argv[1], float(sys.argv[2]), sys.argv[3]
fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
attrs = termios.tcgetattr(fd)
attrs[4] = attrs[5] = termios.B19200
termios.tcsetattr(fd, termios.TCSANOW, attrs)
end = time.monotonic() + seconds
with open(path, "wb") as out:
    while (left := end - time.monotonic()) > 0:
        if select.select([fd], [], [], left)[0]:
            out.write(os.read(fd, 4096))
os.close(fd)
EOF
    kill "$SIM_PID"
    wait "$SIM_PID" || true
}

record gap.nmea --seed 7 --fix-gap 40:15 &
record difflost.nmea --seed 11 --diff-lost 60 &
wait

for r in gap difflost; do
    python3 "$here/expected.py" "$here/$r.nmea" > "$here/$r.expected.json"
done
