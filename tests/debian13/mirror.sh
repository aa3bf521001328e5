#!/usr/bin/env bash
# Prints the Debian mirror this machine's apt already uses: the first "deb"
# source in /etc/apt/sources.list and /etc/apt/sources.list.d (one-line
# *.list or deb822 *.sources) that is not the security archive, e.g.
# http://deb.debian.org/debian. Nothing printed and status 1 when there is none.
set -euo pipefail
shopt -s nullglob
sources() {
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [[ -r $file ]] || continue
        if [[ $file == *.sources ]]; then
            # Stanzas separated by blank lines: Types, URIs, Suites, Enabled.
            awk 'BEGIN { RS = ""; FS = "\n" }
                 {
                     types = uris = suites = ""; enabled = "yes"
                     for (i = 1; i <= NF; i++) {
                         if ($i ~ /^[ \t]*#/) continue
                         split($i, field, ":"); key = tolower(field[1]); value = substr($i, length(field[1]) + 2)
                         if (key == "types") types = value
                         else if (key == "uris") uris = value
                         else if (key == "suites") suites = value
                         else if (key == "enabled") enabled = value
                     }
                     if (enabled ~ /no/ || types !~ /(^|[ \t])deb([ \t]|$)/ || suites ~ /-security/) next
                     n = split(uris, uri, /[ \t]+/)
                     for (i = 1; i <= n; i++) if (uri[i] != "") { print uri[i]; exit }
                 }' "$file"
        else
            # deb [options] URI SUITE COMPONENTS...
            sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$file" |
                awk '$1 == "deb" && $3 !~ /-security/ { print $2; exit }'
        fi
    done
}
mapfile -t found < <(sources)
((${#found[@]})) && echo "${found[0]}"
