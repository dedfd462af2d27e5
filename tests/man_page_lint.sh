#!/usr/bin/env bash
# Renders the man page with every groff warning on; any warning fails. usage: man_page_lint.sh <page>
set -euo pipefail
command -v groff > /dev/null || { echo "groff is not installed"; exit 77; }
warnings=$(groff -ww -z -man "$1" 2>&1)
if [ -n "$warnings" ]; then
    echo "$warnings"
    exit 1
fi
echo "man page renders without warnings"
