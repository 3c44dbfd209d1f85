# bash completion for quellar-cli.
# Commands and options come from the program's own --help texts, so the completion always
# matches the installed version; workbook arguments complete to workbook files.

# The options that take a value, made from quellar-cli's command definitions (the tests
# check these lines against them).
# options begin
_quellar_cli_page_options='--report --details --page'
_quellar_cli_typed_options='--key --tolerance --rel-tolerance --ignore-column --summary --format --context --sheet1 --range1 --sheet2 --range2 --on --where --count --group --sum --average --max --min --conditions --rows-per-page --label-column'
# options end

_quellar_cli_commands() {
    quellar-cli --help 2>/dev/null | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p'
}

_quellar_cli_options() {
    quellar-cli "$1" --help 2>/dev/null | grep -o -- '--[a-z0-9][a-z0-9-]*' | sort -u
}

_quellar_cli() {
    # The file patterns below need extglob; leave the user's setting as it was.
    local saved_extglob
    saved_extglob=$(shopt -p extglob)
    shopt -s extglob
    _quellar_cli_complete
    eval "$saved_extglob"
}

_quellar_cli_complete() {
    local cur prev command i
    COMPREPLY=()
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    command=""
    for ((i = 1; i < COMP_CWORD; i++)); do
        case "${COMP_WORDS[i]}" in
            -*) ;;
            *) command="${COMP_WORDS[i]}"; break ;;
        esac
    done

    if [[ -z "$command" ]]; then
        if [[ "$cur" == -* ]]; then
            COMPREPLY=($(compgen -W "--help --version" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$(_quellar_cli_commands)" -- "$cur"))
        fi
        return 0
    fi

    local workbooks='@(xlsx|XLSX|xlsm|XLSM|xls|XLS|xml|XML|csv|CSV)'
    case "$prev" in
        -o|--output)
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -f -X "!*.@(xlsx|XLSX|xls|XLS|xml|XML|csv|CSV|json|JSON)" -- "$cur") $(compgen -d -- "$cur"))
            return 0 ;;
    esac
    if [[ " $_quellar_cli_page_options " == *" $prev "* ]]; then
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -X "!*.@(htm|html|HTM|HTML)" -- "$cur") $(compgen -d -- "$cur"))
        return 0
    fi
    # A name or a number the user types.
    [[ " $_quellar_cli_typed_options " == *" $prev "* ]] && return 0

    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "$(_quellar_cli_options "$command") -o -h" -- "$cur"))
        return 0
    fi
    compopt -o filenames 2>/dev/null
    if [[ "$command" == convert ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    else
        COMPREPLY=($(compgen -f -X "!*.$workbooks" -- "$cur") $(compgen -d -- "$cur"))
    fi
    return 0
}

complete -F _quellar_cli quellar-cli
