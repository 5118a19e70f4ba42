#!/bin/bash
# The manual page renders without a warning, and shows every text the
# program writes.
#   manual_test.sh PAGE MESSAGES_HEADER
set -uo pipefail
page=$1
messages=$2

warnings=$(groff -k -ww -z -man -Tutf8 "$page" 2>&1)
if [[ -n $warnings ]]; then
  echo "groff warns about $page:"
  echo "$warnings"
  exit 1
fi

rendered=$(groff -k -man -Tutf8 -P-cbou "$page" 2>&1)
missing=0
while IFS= read -r text; do
  # A trailing space cannot show at the end of a rendered line.
  text=${text%"${text##*[! ]}"}
  if ! grep -qF -- "$text" <<<"$rendered"; then
    echo "not in the manual: \"$text\""
    missing=1
  fi
done < <(grep -o 'u8"[^"]*"' "$messages" | sed 's/^u8"//; s/"$//')
exit $missing
