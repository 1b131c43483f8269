#!/bin/sh
# Runs a test that acts as two users (it takes the second one with setresuid,
# so it must run as root):
#   - as root: directly;
#   - otherwise: as the root of a new user namespace that maps this user to 0
#     and this user's first block of subordinate ids (/etc/subuid and
#     /etc/subgid, set with newuidmap and newgidmap from the uidmap package)
#     to 1 and up, so the test's second user is another user for the kernel.
# Without either it fails: a security check that cannot run is a failed
# check, never a skipped one.
#
#   with_two_users.sh COMMAND [ARG...]
set -eu

if [ "$(id -u)" = 0 ]; then
  exec "$@"
fi

# Own ids to 0, the first block of subordinate ids from 1 up (the overlap
# at 0 is left out of the block).
in_namespace="unshare --user --map-user=0 --map-group=0 --map-users=auto --map-groups=auto --"
if $in_namespace sh -c 'test "$(cat /proc/self/uid_map | wc -l)" -ge 2' 2>/dev/null; then
  exec $in_namespace "$@"
fi

echo "with_two_users.sh: cannot act as a second user: run as root, or give $(id -un) subordinate ids" \
  "(/etc/subuid and /etc/subgid, 65535 or more) and install uidmap (newuidmap, newgidmap)" >&2
exit 1
