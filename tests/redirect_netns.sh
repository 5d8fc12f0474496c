#!/usr/bin/env bash
# Runs the redirect cases that need a public origin (RedirectFromPublicOrigin in
# service_tests) in a private network namespace. Its loopback interface carries two
# documentation addresses as well, which count as public, for the origin and a second
# public server, and one address in each local range for the services a redirect must not
# reach. (The loopback interface takes any address, where a dummy or veth interface would
# need a kernel module.)
#
#   tests/redirect_netns.sh SERVICE_TESTS
#
# Needs root and `ip netns`; without them it prints SKIP and exits 77.
set -u

TESTS=${1:-}
if [[ -z $TESTS ]]; then
  echo "usage: $0 SERVICE_TESTS" >&2
  exit 2
fi
TESTS=$(realpath "$TESTS")

ROOT=$(cd "$(dirname "$(realpath "$0")")/.." && pwd)
# shellcheck source=tests/support/netns.sh
. "$ROOT/tests/support/netns.sh"

need_netns realpath
trap 'netns_cleanup' EXIT
trap 'exit 1' INT TERM HUP

netns_create "addrova-redirect-$$" || { echo "FAIL: cannot create a network namespace"; exit 1; }
for address in 198.51.100.1 203.0.113.7 169.254.169.254 10.1.2.3 172.16.5.4 192.168.7.8; do
  in_ns ip addr add "$address/32" dev lo || { echo "FAIL: cannot add $address"; exit 1; }
done

out=$(in_ns env ADDROVA_PUBLIC_ADDRESSES=1 "$TESTS" --gtest_filter='RedirectFromPublicOrigin.*' 2>&1)
status=$?
echo "$out"
# A case that skipped, or none at all, proves nothing.
if ((status == 0)) && ! grep -q '^\[  PASSED  \] [1-9]' <<<"$out" || grep -q SKIPPED <<<"$out"; then
  echo "FAIL: the cases did not run"
  exit 1
fi
exit "$status"
