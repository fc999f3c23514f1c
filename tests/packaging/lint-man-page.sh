#!/bin/sh
# A manual page as man renders it on a terminal (-Tutf8), with every groff warning on (the check
# lintian makes): any warning fails. Without -Tutf8 groff 1.24 checks for PostScript's fonts, which
# have no glyph for the page's Δ. lexgrog must also find the page's whatis entry, which apropos
# and man -k read.
# Usage: lint-man-page.sh PAGE
page=$1
warnings=$(LC_ALL=C.UTF-8 groff -k -ww -z -Tutf8 -man "$page" 2>&1) || { printf '%s\n' "$warnings"; exit 1; }
if [ -n "$warnings" ]; then
    printf 'FAIL groff warns about %s:\n%s\n' "$page" "$warnings"
    exit 1
fi
lexgrog "$page" || { echo "FAIL lexgrog finds no whatis entry in $page"; exit 1; }
