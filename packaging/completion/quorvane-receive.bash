# bash completion for quorvane-receive: its options, folders after --to and commands after
# --exec. Installed under the command's name; it needs no helper from the bash-completion
# package.

_quorvane_receive() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} cword=$COMP_CWORD
    # --option=value: bash splits the word at '=', so the option is one or two words back.
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((cword >= 2)); then
        prev=${COMP_WORDS[cword - 2]}
    fi
    case $prev in
        --to)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        --exec)
            mapfile -t COMPREPLY < <(compgen -c -- "$cur")
            return ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "--to --exec --print --list --watch --json -0 --null
        -h --help --version" -- "$cur")
}
complete -F _quorvane_receive quorvane-receive
