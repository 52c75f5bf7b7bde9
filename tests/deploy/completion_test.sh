#!/usr/bin/env bash
# tovrik-cli's bash completion as bash runs it: bash-completion and the
# completion loaded, the words and cursor of a command line set, the function
# that `complete -p tovrik-cli` names called, and what it offers compared.
#
#     completion_test.sh COMPLETION_FILE CLI_DIR (the folder of the tovrik-cli to complete for)
set -uo pipefail
completion=$1
PATH="$(cd "$2" && pwd):$PATH"

# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion || exit 1
# shellcheck source=/dev/null
source "$completion" || exit 1
function=$(complete -p tovrik-cli | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
if [ -z "$function" ]; then
  echo "FAILED: no completion function for tovrik-cli"
  exit 1
fi

failures=0
# offers LINE EXPECTED...: what completing at the end of LINE offers, in any
# order. Words are split as bash splits them for completion (at blanks and
# at = and :).
offers() {
  local line=$1
  shift
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -r -a COMP_WORDS <<<"${line//=/ = }"
  [[ $line == *" " || $line == *"=" ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$function" tovrik-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local got want
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
  want=$(printf '%s\n' "$@" | sort)
  if [ "$got" != "$want" ]; then
    echo "FAILED: '$line' offers [$(echo $got)], expected [$(echo $want)]"
    failures=$((failures + 1))
  fi
}

modes=(0 1 2 3 4 5 6 1s 10s 1min 1h 100ms replay 10ms)
offers "tovrik-cli --st" --start-at --stats-json --stop-after
offers "tovrik-cli -m 1 --no-" --no-loop --no-modify-time
offers "tovrik-cli -m " "${modes[@]}"
offers "tovrik-cli --hex --mode=1" 1 1s 10s 1min 1h 100ms 10ms
offers "tovrik-cli --devices by" by-imei by-source
offers "tovrik-cli --stop-after "
offers "tovrik-cli " receive report
offers "tovrik-cli report -" -h --help -o --output --threshold --baseline
offers "tovrik-cli receive --answer-d" --answer-delay --answer-drop
offers "tovrik-cli receive -l [::1]:0 --co" --counter
offers "tovrik-cli receive --seed "

# Every option of the help, and only those, once the word starts with -.
COMP_LINE="tovrik-cli -"
offers_all=$(
  COMP_POINT=${#COMP_LINE} COMP_WORDS=(tovrik-cli -) COMP_CWORD=1
  "$function" tovrik-cli - tovrik-cli
  printf '%s\n' "${COMPREPLY[@]}" | sort
)
for option in -4 -6 -t --target --threshold --capture-time --version --help; do
  grep -qx -- "$option" <<<"$offers_all" || { echo "FAILED: '-' does not offer $option"; failures=$((failures + 1)); }
done
if grep -qvx -- '-.*' <<<"$offers_all"; then
  echo "FAILED: '-' offers words that are not options: $(grep -vx -- '-.*' <<<"$offers_all" | tr '\n' ' ')"
  failures=$((failures + 1))
fi

# Files after the options that take one, and as report's arguments.
files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
mkdir "$files/day"
touch "$files/day/a day.txt" "$files/day/capture.pcap"
cd "$files" || exit 1
offers "tovrik-cli --import day/" "day/a day.txt" "day/capture.pcap"
offers "tovrik-cli -m 5 --text-file day/c" "day/capture.pcap"
offers "tovrik-cli --loss 5% --scenario day/a" "day/a day.txt"
offers "tovrik-cli report --baseline day/c" "day/capture.pcap"
offers "tovrik-cli --loss "
offers "tovrik-cli report day/capture.pcap -o day/a" "day/a day.txt"
offers "tovrik-cli receive --report day/a" "day/a day.txt"

echo "bash completion: $([ $failures -eq 0 ] && echo "all cases passed" || echo "$failures case(s) failed")"
[ $failures -eq 0 ]
