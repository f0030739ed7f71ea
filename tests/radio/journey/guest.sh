#!/bin/sh
# The radio tier's guest script: both journeys, one after the other, in one
# boot; each prints its own checks and closing count.
sh /host/journey.sh; first=$?
sh /host/networks.sh; second=$?
[ "$first" = 0 ] && [ "$second" = 0 ]
