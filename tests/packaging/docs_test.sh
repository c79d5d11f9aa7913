#!/bin/bash
# What a person reads and types: the desktop entry validates, each manual page renders without
# a warning and says what the program's --help says (every option, exit status and environment
# variable), and the bash completion offers every option and only values the program accepts.
#
#   docs_test.sh SOURCE_DIR BUILD_DIR PROGRAM [PROGRAM...]
set -eu
source_dir=$1
build=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for entry in "$source_dir"/packaging/*.desktop; do
    desktop-file-validate "$entry" || fail "$(basename "$entry") does not validate"
done

# The words of one section of a rendered page (from its heading to the next heading).
section() { awk -v name="$1" '/^[A-Z]/ {inside = ($0 == name); next} inside' "$2"; }

for program in "$@"; do
    name=$(basename "$program")
    page=$build/man/$name.1
    MANWIDTH=80 man --warnings -l "$page" >"$work/$name.txt" 2>"$work/$name.warnings" ||
        fail "man could not render $name.1"
    [ -s "$work/$name.warnings" ] && fail "$name.1 renders with warnings: $(cat "$work/$name.warnings")"
    for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
        grep -qx "$heading" "$work/$name.txt" || fail "$name.1 has no $heading section"
    done

    QT_QPA_PLATFORM=offscreen "$program" --help >"$work/$name.help" || fail "$name --help failed"
    options=$(grep -oE -- '(^|[^[:alnum:]-])--?[[:alnum:]][[:alnum:]-]*' "$work/$name.help" |
        sed -E 's/^[^-]+//' | sort -u)
    for option in $options; do
        grep -qwF -- "$option" "$work/$name.txt" || fail "$name.1 does not mention $option"
    done
    help_statuses=$(awk '/^Exit status:/ {inside = 1; next} inside && /^  [0-9]+ / {print $1}' \
        "$work/$name.help")
    page_statuses=$(section "EXIT STATUS" "$work/$name.txt" | awk '/^ +[0-9]+( |$)/ {print $1}')
    [ "$help_statuses" = "$page_statuses" ] ||
        fail "$name: exit statuses differ: --help says" $help_statuses "and the page" $page_statuses
    for variable in $(awk '/^Environment:/ {inside = 1; next} /^$/ {inside = 0}
            inside && /^  [A-Z]/ {print}' "$work/$name.help" | grep -oE '^ +[A-Z_]+(, [A-Z_]+)*' |
            tr -d ' ' | tr ',' '\n'); do
        section ENVIRONMENT "$work/$name.txt" | grep -qw -- "$variable" ||
            fail "$name.1 does not describe $variable"
    done

    # Completion, as bash runs it for the word being typed.
    complete_words() {
        COMP_WORDS=("$name" "$@")
        COMP_CWORD=$#
        COMPREPLY=()
        _quorvane_share
        printf '%s\n' "${COMPREPLY[@]}"
    }
    source "$source_dir/packaging/completion/quorvane-share.bash"
    for option in $options; do
        complete_words "$option" | grep -qxF -- "$option" || fail "$name: completion does not offer $option"
    done
    for setting in --appearance --text-size; do
        values=$(complete_words "$setting" "")
        [ -n "$values" ] || fail "$name: completion offers no value for $setting"
        for value in $values; do
            QT_QPA_PLATFORM=offscreen "$program" "$setting" "$value" --version >/dev/null 2>&1 ||
                fail "$name: completion offers '$setting $value', which $name refuses"
        done
    done
done

[ "$failures" -eq 0 ] || exit 1
echo "desktop entries, manual pages and completion agree with: $*"
