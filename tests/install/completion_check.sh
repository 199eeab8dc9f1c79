#!/usr/bin/env bash
# Tries the unpacked bash completion as a user's Tab would: commands, options,
# and the values of --cpu, --flash-type and vireo-sim's --fault.
#   completion_check.sh DIR   (DIR holds the scripts, named after their programs)
set -uo pipefail
dir=$1
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
failures=0

# complete_words PROGRAM WORD... : what Tab offers for the last WORD.
complete_words() {
  local program=$1
  shift
  # shellcheck disable=SC1090
  source "$dir/$program"
  COMP_WORDS=("$program" "$@")
  COMP_CWORD=$#
  COMP_LINE="$program $*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  local func
  func=$(complete -p "$program" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
  "$func" "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

expect() {
  local want=$1
  shift
  local got
  got=$(complete_words "$@")
  if [ "$got" != "$want" ]; then
    echo "completion of '$*': got '$got', want '$want'" >&2
    failures=$((failures + 1))
  fi
}

expect "flash" sealbench-cli fl
expect "sekurel-status sign srec station" sealbench-cli s
expect "VireoB VireoC_TO1 VireoC_TO2" sealbench-cli flash --cpu ""
expect "VireoC_TO1 VireoC_TO2" sealbench-cli read 0 --cpu VireoC
expect "nand nor" sealbench-cli flash img.bin --flash-type n
expect "--flash-lib --flash-type" sealbench-cli flash --flash
expect "--progress" sealbench-cli download --pro
expect "--record --reset-sequence" sealbench-cli station img.bin --re
expect "16 32 8" sealbench-cli write-reg 0 0 --width ""
expect "VireoB VireoC_TO1 VireoC_TO2" vireo-sim --cpu ""
expect "status-silent: status-word:" vireo-sim --fault status-
expect "" sealbench-cli flash img.bin --address ""
expect "--block --code --csf-key --help --help-all --key --super-root --type --uid" sealbench-cli csf x --
if [ -e "$dir/sealbench" ]; then
  expect "VireoB VireoC_TO1 VireoC_TO2" sealbench --simulate ""
fi
# Ports come from the program's own list when it is on PATH.
if command -v sealbench-cli >/dev/null && sealbench-cli ports >/dev/null 2>&1; then
  expect "$(sealbench-cli ports | awk '$2 == "--port" {print $1}' | sort | tr '\n' ' ' | sed 's/ $//')" \
    sealbench-cli flash --port ""
  expect "$(sealbench-cli ports | awk '{print $1}' | sort | tr '\n' ' ' | sed 's/ $//')" \
    sealbench-cli station img.bin --slot ""
fi
exit $((failures > 0))
