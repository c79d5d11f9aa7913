# bash completion for quorvane-share, quorvane-share-desktop and quorvane-prompter: options,
# the values of --appearance, --text-size and --mirror, and files. Installed under each command's name; it needs no
# helper from the bash-completion package.

_quorvane_share() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} cword=$COMP_CWORD
    # --option=value: bash splits the word at '=' (a word break), so the option is one or two
    # words back.
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((cword >= 2)); then
        prev=${COMP_WORDS[cword - 2]}
    fi

    local options="--send --close --json --appearance --text-size --platform-version
        --max-size --bundle -h --help --version"
    case ${COMP_WORDS[0]##*/} in
        quorvane-share-desktop) options+=" --list --clipboard --selection --screenshot --controls" ;;
        quorvane-prompter)
            options="--prompt --screen --window --mirror --speed --font-size --line-spacing --countdown
                --screenshot --reset-settings --settings --follow-voice --audio-file --positions
                --voice-model --microphone --remote --follow -h --help --version" ;;
        *) options+=" --list -0 --null --controls" ;;
    esac

    case $prev in
        --appearance)
            mapfile -t COMPREPLY < <(compgen -W "light dark unspecified" -- "$cur")
            return ;;
        --text-size)
            # The program takes a size in any letter case, so "ax" offers AX1 to AX5.
            local size
            COMPREPLY=()
            for size in xSmall Small Medium Large xLarge xxLarge xxxLarge AX1 AX2 AX3 AX4 AX5; do
                [[ ${size,,} == "${cur,,}"* ]] && COMPREPLY+=("$size")
            done
            return ;;
        --mirror)
            mapfile -t COMPREPLY < <(compgen -W "horizontal vertical both none" -- "$cur")
            return ;;
        --prompt)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --audio-file | --positions)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --bundle | --voice-model)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        --screenshot)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -X '!*.[pP][nN][gG]' -- "$cur"; compgen -d -- "$cur")
            return ;;
        --platform-version | --max-size | --screen | --speed | --font-size | --countdown | \
            --microphone | --line-spacing)
            COMPREPLY=()
            return ;;
    esac

    # After "--" every word is the file.
    local i
    for ((i = 1; i < cword; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
        fi
    done

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    else
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _quorvane_share quorvane-share quorvane-share-desktop quorvane-prompter
