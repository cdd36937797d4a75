#!/usr/bin/env bash
# Every command, option and literal word of `cement-lab-cli --help` (field names, formats) is in
# both manual pages of the tool (Russian and English), each command in the synopsis, and man
# reads every page of the project without a warning.
# Usage: manual-test.sh CEMENT-LAB-CLI DOCS/MAN
set -euo pipefail
cli="$1"
pages="$2"
help="$(QT_QPA_PLATFORM=offscreen "$cli" --help)"
failed=0

# The page's text without roff's escapes for a hyphen, a backslash and a font change.
plain() { sed -e 's/\\-/-/g' -e 's/\\e/\\/g' -e 's/\\f[BIRP]//g' "$1"; }

for lang in en ru; do
    page="$pages/$lang/cement-lab-cli.1"
    text="$(plain "$page")"
    while IFS= read -r line; do
        words="$(printf '%s\n' "$line" | tr -s '[]|,;()' '        ')"
        read -r -a tokens <<<"$words"
        # A usage line: its first word after the tool's name is a command.
        first=0
        if [ "${tokens[0]:-}" = cement-lab-cli ]; then
            tokens=("${tokens[@]:1}")
            first=1
        fi
        for token in "${tokens[@]}"; do
            # Placeholders are upper case (ПРОЕКТ.fdb, ЗАПИСЬ); commands, options and fixed words are not.
            if [[ "$token" =~ ^-{1,2}[a-z][a-z-]*$ || "$token" =~ ^[a-z][a-z_-]*$ ]]; then
                if [ "$first" = 1 ] && [[ "$token" != -* ]]; then
                    grep -qF -e "cement-lab-cli $token" <<<"$text" \
                        || { echo "$page: the command '$token' is not in the synopsis"; failed=1; }
                else
                    grep -qE -e "(^|[^a-z_-])$token([^a-z_-]|\$)" <<<"$text" \
                        || { echo "$page: '$token' (of: $line) is not described"; failed=1; }
                fi
            fi
            first=0
        done
    done <<<"$help"
done

if command -v man >/dev/null; then
    for page in "$pages"/*/*.1; do
        warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null || true)"
        [ -z "$warnings" ] || { echo "$page: $warnings"; failed=1; }
    done
fi
[ "$failed" = 0 ] && echo "the manual pages name everything --help names"
exit "$failed"
