#!/usr/bin/env bash
# Runs a script under the platform's script host and compares what it prints (standard output
# and standard error, in order) with the expected transcript. The script host ends with status 0
# even after a script error, so the transcript is the only verdict.
#   script_transcript_test.sh WINE_RUN SCRIPT EXPECTED
set -euo pipefail
wine_run=$1 script=$2 expected=$3
winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
actual=$("$wine_run" cscript //nologo "$(winpath "$script")" 2>&1 | tr -d '\r')
if ! diff -u "$expected" <(printf '%s\n' "$actual"); then
  echo "FAILED: $(basename "$script") printed something other than $(basename "$expected")" >&2
  exit 1
fi
echo "transcript of $(basename "$script") as expected"
