#!/usr/bin/env bash
# make ct: the constant-time checks of the signing path.
#   1. MemorySanitizer (build-ct/ct_check): secrets poisoned; the planted
#      controls must be reported and the real signing path must not be.
#   2. valgrind memcheck (build/ct_check): the same with the secrets marked
#      undefined, for the code without AVX-512 (libsodium's signer included).
#   3. the dudect-style timing test (build/ct_dudect).
# Usage: ct.sh MSAN_BUILD_DIR BUILD_DIR DUDECT_MEASUREMENTS
set -uo pipefail
msan_dir=$1 build_dir=$2 measurements=$3
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT
failed=0

# expect NAME WANT PATTERN CMD...: run CMD; WANT=clean needs exit 0 and no
# PATTERN in its output, WANT=flagged a non-zero exit and PATTERN.
expect() {
  local name=$1 want=$2 pattern=$3
  shift 3
  "$@" >"$log/out" 2>&1
  local rc=$?
  local found=no
  grep -qE "$pattern" "$log/out" && found=yes
  local verdict
  if [ "$want" = clean ]; then
    [ $rc -eq 0 ] && [ $found = no ] && verdict=ok || verdict=FAILED
  else
    [ $rc -ne 0 ] && [ $found = yes ] && verdict=ok || verdict=FAILED
  fi
  printf '  %-40s expected %-8s exit %3d, report %-3s  %s\n' "$name" "$want" $rc $found $verdict
  if [ $verdict != ok ]; then
    failed=1
    sed 's/^/    | /' "$log/out" | head -40
  fi
}

echo "ct: MemorySanitizer (secrets poisoned)"
msan_report='WARNING: MemorySanitizer: use-of-uninitialized-value'
expect "control: secret-dependent branch" flagged "$msan_report" "$msan_dir/ct_check" control-branch
expect "control: secret-indexed table load" flagged "$msan_report" "$msan_dir/ct_check" control-index
expect "signing path" clean "$msan_report" "$msan_dir/ct_check" real
grep -h '^ct_check real' "$log/out" | sed 's/^/    /'

echo "ct: valgrind memcheck (secrets undefined, no AVX-512 code)"
vg=(valgrind -q --error-exitcode=97 --track-origins=yes --suppressions="$here/valgrind.supp")
vg_report='Conditional jump or move depends on uninitialised|Use of uninitialised value'
expect "control: secret-dependent branch" flagged "$vg_report" "${vg[@]}" "$build_dir/ct_check" control-branch
expect "control: secret-indexed table load" flagged "$vg_report" "${vg[@]}" "$build_dir/ct_check" control-index
expect "signing path" clean "$vg_report" "${vg[@]}" "$build_dir/ct_check" real
grep -h '^ct_check real' "$log/out" | sed 's/^/    /'

echo "ct: timing (dudect-style Welch t-test)"
if ! "$build_dir/ct_dudect" "$measurements"; then
  failed=1
fi

if [ $failed -ne 0 ]; then
  echo "ct: FAILED"
  exit 1
fi
echo "ct: all checks as expected"
