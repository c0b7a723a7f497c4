#!/bin/sh
# Renders a man page with every groff warning enabled; any message fails.
# usage: check_manpage.sh GROFF PAGE
out=$("$1" -ww -man -Tutf8 "$2" 2>&1 >/dev/null) || { echo "$out"; exit 1; }
if [ -n "$out" ]; then
    echo "$out"
    exit 1
fi
