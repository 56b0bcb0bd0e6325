#!/bin/sh
# Runs a command in a network namespace of its own, with only loopback up,
# so that simulated cards can take port 21 on 127.0.0.x and nothing the test
# sends can leave the machine.
exec unshare -rn sh -c 'ip link set lo up && exec "$@"' in_netns "$@"
