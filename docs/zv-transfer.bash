# bash completion for zv-transfer                          -*- shell-script -*-
#
# Completes the commands, the options each command takes, the values of
# --rule and local folders for --dest. Names on the recorder are not
# completed: that would connect to it on every Tab.

_zv_transfer()
{
    # Plain COMP_WORDS: no helper of the bash-completion package is needed.
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local words=("${COMP_WORDS[@]}") cword=$COMP_CWORD

    local commands="list get info sync"
    local global="-h --help -V --version -q --quiet -v --verbose -vv --host --mtr --music --timeout"

    case $prev in
        --rule)
            # newer: skip a file of the same size, overwrite one of another
            # size; overwrite: always; rename: write NAME(N).EXT; skip: keep
            # the file there.
            mapfile -t COMPREPLY < <(compgen -W 'newer overwrite rename skip' -- "$cur")
            return
            ;;
        --dest)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return
            ;;
        --host | --timeout | --min-rate | --rate-window | --stats)
            # A value of the user's own.
            return
            ;;
    esac

    local i command=
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --host | --timeout | --min-rate | --rate-window | --stats | --rule | --dest)
                ((i++))
                ;;
            -*) ;;
            *)
                command=${words[i]}
                break
                ;;
        esac
    done

    local options=$global
    case $command in
        list) options+=" --json --bytes" ;;
        get) options+=" --all --dest --rule --min-rate --rate-window --stats -r --recursive --both -n --dry-run" ;;
        info) options+=" --json" ;;
        sync) options+=" --dest --rule --min-rate --rate-window --stats --both --again --watch -n --dry-run" ;;
        "")
            if [[ $cur != -* ]]; then
                mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
                return
            fi
            ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    fi
} &&
    complete -F _zv_transfer zv-transfer

# ex: filetype=sh
