#!/usr/bin/env bash
# The bash completion of quenlitor-tokens as bash runs it: completes lines as readline would hand
# them over, and checks the result against the tool itself, so that a command or an option added
# to the tool and forgotten in the completion is caught.
# Usage: completion-test.sh COMPLETION_FILE TOOL
set -uo pipefail
completion=$1
tool=$(realpath "$2") || exit 1
# shellcheck source=/dev/null
source "$completion" || exit 1
function=$(complete -p quenlitor-tokens 2>/dev/null | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
[[ -n $function ]] || { echo "FAIL $completion registers no completion function for quenlitor-tokens"; exit 1; }

# The candidates for the words given, the last being the one under the cursor, sorted and joined
# by spaces.
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    "$function" quenlitor-tokens "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | paste -sd ' ' -
}

failed=0
check() {
    local expected=$1
    shift
    local got
    got=$(complete_words "$@")
    if [[ $got == "$expected" ]]; then
        echo "PASS '$*' -> '$got'"
    else
        echo "FAIL '$*' -> '$got', expected '$expected'"
        failed=1
    fi
}

folder=$(mktemp -d) || exit 1
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
touch cancion.mid acordes.json 'con espacio.mid' ./-raro.mid
mkdir carpeta

# Bash splits "--dictionary=a" into "--dictionary" "=" "a".
check 'analyze' quenlitor-tokens an
check '--dictionary --help --no-title --status' quenlitor-tokens stream --
check '--help --version' quenlitor-tokens --
check 'check-dictionary' quenlitor-tokens ch
check '--list' quenlitor-tokens listen --l
check '-raro.mid acordes.json cancion.mid carpeta con espacio.mid' quenlitor-tokens stream ''
check 'cancion.mid carpeta con espacio.mid' quenlitor-tokens decode c
check 'acordes.json' quenlitor-tokens token --dictionary a
check 'acordes.json' quenlitor-tokens analyze --dictionary = a
check '-raro.mid acordes.json cancion.mid carpeta con espacio.mid' quenlitor-tokens analyze --dictionary =
check '' quenlitor-tokens token 6
check '' quenlitor-tokens normalize --title ''
check '' quenlitor-tokens listen --source ''
check '-raro.mid' quenlitor-tokens stream -- -
check '--dictionary --help --no-title --status' quenlitor-tokens stream -
check '' quenlitor-tokens orden-desconocida ''

# Every command the tool lists, with the options its usage lines name.
commands=$("$tool" --help | awk '/^Órdenes:/ {listing = 1; next} listing && /^  [a-z]/ {print $1}')
[[ -n $commands ]] || { echo "FAIL no commands in '$tool --help'"; exit 1; }
for command in $commands; do
    offered=" $(complete_words quenlitor-tokens '') "
    [[ $offered == *" $command "* ]] || { echo "FAIL '$command' is not among the commands completed"; failed=1; }
    options=$({ "$tool" "$command" --help | sed -n '/^Uso:/,/^$/p' | grep -o -- '--[a-z-]*'; echo --help; } | sort -u | paste -sd ' ' -)
    check "$options" quenlitor-tokens "$command" --
done

exit $failed
