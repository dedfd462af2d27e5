#!/usr/bin/env bash
# Renders the man page with every groff warning on, and lints it with mandoc where that is installed;
# any warning fails. usage: man_page_lint.sh <page>
set -euo pipefail
command -v groff > /dev/null || { echo "groff is not installed"; exit 77; }
warnings=$(groff -ww -z -man "$1" 2>&1)
if command -v mandoc > /dev/null; then
    warnings+=$(mandoc -T lint -W style "$1" 2>&1 || true)
fi
if [ -n "$warnings" ]; then
    echo "$warnings"
    exit 1
fi
echo "man page renders without warnings"
