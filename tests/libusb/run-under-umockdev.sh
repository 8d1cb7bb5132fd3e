#!/bin/sh
# Runs a test program with umockdev's library preloaded (umockdev-wrapper).
# In a build with AddressSanitizer its runtime would have to come first; the
# preloaded library intercepts none of what the sanitizer does, so the order
# check is turned off. ThreadSanitizer is told what it cannot judge.
here=$(dirname "$0")
ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$here/../sanitizers/tsan.supp"
export ASAN_OPTIONS TSAN_OPTIONS
exec umockdev-wrapper "$@"
