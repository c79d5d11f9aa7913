#!/bin/bash
# What a person reads and types: the desktop entry validates, each manual page renders without
# a warning and says what the program's --help says (every option, exit status and environment
# variable, and which options are for testing the extension), its FILES name paths that the
# install puts there, whole (never hyphenated at a line's end), and the bash completion offers
# every option and only values the program accepts.
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
# The options named in a text: words that begin with one or two hyphens.
options_in() {
    grep -oE -- '(^|[^[:alnum:]-])--?[[:alnum:]][[:alnum:]-]*' "$1" | sed -E 's/^[^-]+//' | sort -u
}
# What the completion offers for the words typed after a command.
for completion in "$source_dir"/packaging/completion/*.bash; do
    source "$completion"
done
complete_words() {
    local command=$1
    shift
    COMP_WORDS=("$command" "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    # The function the completion registered for the command.
    local function
    function=$(complete -p "$command" | sed -E 's/.*-F ([^ ]+) .*/\1/')
    "$function"
    printf '%s\n' "${COMPREPLY[@]}"
}

# The installed tree, as the pages' FILES name it (the prefix the build is configured for).
DESTDIR="$work/root" cmake --install "$build" >/dev/null

# Every page, whether or not its program is built here.
for page in "$build"/man/*.1.gz; do
    name=$(basename "$page" .1.gz)
    # A fixed locale: a missing one would make man warn about the locale, not the page.
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$work/$name.txt" 2>"$work/$name.warnings" ||
        fail "man could not render $name.1"
    [ -s "$work/$name.warnings" ] && fail "$name.1 renders with warnings: $(cat "$work/$name.warnings")"
    for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
        grep -qx "$heading" "$work/$name.txt" || fail "$name.1 has no $heading section"
    done
    section OPTIONS "$work/$name.txt" >"$work/$name.options"
    # Each absolute path in FILES, read from the page as rendered (a path hyphenated at a line's
    # end would be cut in two), is what installing put there.
    for path in $(section FILES "$work/$name.txt" | grep -oE '(^|[[:space:](])/[^[:space:]),]+' |
        sed -E 's/^[[:space:](]+//'); do
        [ -e "$work/root$path" ] || fail "$name.1 names $path in FILES, which installing does not make"
    done
    section FILES "$work/$name.txt" | grep -qE '(^|[[:space:](])/' || fail "$name.1 names no installed path in FILES"
    for option in $(options_in "$work/$name.options"); do
        [ "$option" = -- ] || complete_words "$name" "$option" | grep -qxF -- "$option" ||
            fail "$name: completion does not offer $option"
    done
done

# Each program built here: its page says what its --help says, and it accepts the values the
# completion offers.
for program in "$@"; do
    name=$(basename "$program")
    [ -f "$work/$name.txt" ] || { fail "$name has no manual page"; continue; }
    # Help needs no display: read with none at all, as on a server or over ssh.
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help >"$work/$name.help" 2>"$work/$name.help-err" ||
        fail "$name --help without a display failed: $(cat "$work/$name.help-err")"
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --version >/dev/null 2>&1 ||
        fail "$name --version without a display failed"
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --no-such-option >/dev/null \
        2>"$work/$name.usage" || status=$?
    [ "$status" -eq 2 ] && grep -q no-such-option "$work/$name.usage" ||
        fail "$name: a usage error without a display gave status $status: $(cat "$work/$name.usage")"
    # A display named but gone (an X server that stopped, a Wayland socket of another session):
    # the programs with windows say so with status 2, never Qt's abort.
    case $name in
    quorvane-prompter | quorvane-share-desktop)
        for display in DISPLAY=:87 WAYLAND_DISPLAY=quorvane-gone; do
            status=0
            env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$display" HOME="$work/home" \
                XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data" \
                XDG_RUNTIME_DIR="$work/home" QUORVANE_CONTAINER_ROOT="$work/home/containers" \
                "$program" >/dev/null 2>"$work/$name.gone" </dev/null || status=$?
            [ "$status" -eq 2 ] && grep -q "cannot open a window: no display could be opened" "$work/$name.gone" ||
                fail "$name with $display gone gave status $status: $(tail -n 2 "$work/$name.gone")"
        done
        ;;
    esac
    for option in $(options_in "$work/$name.help"); do
        grep -qwF -- "$option" "$work/$name.txt" || fail "$name.1 does not mention $option"
    done
    # The programs that load the extension keep the options for testing it under a heading of
    # their own in both, after the ones people use; the readers of the import folder load none.
    if grep -qwF -- --platform-version "$work/$name.help"; then
        awk '/^Testing the extension:$/ {inside = 1; next} /^$/ {inside = 0} inside' \
            "$work/$name.help" >"$work/$name.help-testing"
        [ -s "$work/$name.help-testing" ] || fail "$name --help has no 'Testing the extension:' heading"
        awk '/^ +Testing the extension$/ {inside = 1; next} inside' "$work/$name.options" \
            >"$work/$name.page-testing"
        for option in $(options_in "$work/$name.help-testing"); do
            grep -qwF -- "$option" "$work/$name.page-testing" ||
                fail "$name.1 does not list $option under Testing the extension"
        done
        first=$(grep -m 1 -oE '^  --?[[:alnum:]][[:alnum:]-]*' "$work/$name.help" | tr -d ' ')
        if grep -qwF -- "$first" "$work/$name.help-testing"; then
            fail "$name --help leads with $first, an option for testing"
        fi
    fi
    # A program that takes a FILE lists "--" (the end of the options) in both.
    if grep -qE '^Usage:.*FILE' "$work/$name.help"; then
        grep -qE '^  --  ' "$work/$name.help" || fail "$name --help does not list --"
        grep -qE '^ +-- *$|^ +--  ' "$work/$name.options" || fail "$name.1 does not list --"
    fi
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
    for setting in --appearance --text-size --mirror; do
        grep -qwF -- "$setting" "$work/$name.help" || continue  # not one of this program's
        values=$(complete_words "$name" "$setting" "")
        [ -n "$values" ] || fail "$name: completion offers no value for $setting"
        for value in $values; do
            QT_QPA_PLATFORM=offscreen "$program" "$setting" "$value" --version >/dev/null 2>&1 ||
                fail "$name: completion offers '$setting $value', which $name refuses"
        done
    done
done

[ "$failures" -eq 0 ] || exit 1
echo "desktop entries, manual pages ($(cd "$build/man" && echo ./*.1.gz)) and completion agree with: $*"
