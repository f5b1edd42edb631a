#!/usr/bin/env bash
# The manual page: mandoc's lint finds nothing, and every section, subsection and item
# heading shows whole in the rendered page (a word of a heading that is an mdoc macro,
# "An" or "No", is taken as one and lost unless escaped with \&).
set -euo pipefail
page=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

lint=$(mandoc -T lint "$page" 2>&1) || fail "mandoc lint: $lint"
[ -z "$lint" ] || fail "mandoc lint: $lint"

# The rendered lines, without the overstrike of bold and underlined letters and without
# their indent.
rendered=$(mandoc -T ascii "$page" | sed 's/.\x08//g; s/^ *//')
# A heading as it should read: the macros that lead its words (-f for "Fl f", "Ar file"
# as "file"), punctuation against the word before, \& gone. Any other word stays as
# written, so a macro name taken for a word shows as missing.
expected() {
  awk '{
    out = ""; flag = 0
    for (i = 2; i <= NF; i++) {
      w = $i; gsub(/\\&/, "", w)
      if ($i == "Fl") { flag = 1; continue }
      if ($i ~ /^(Ar|Ev|Pa|Li|Dv|Cm)$/) continue
      if (flag) { w = "-" w; flag = 0 }
      if (w ~ /^[,.;:)]$/ || out == "") out = out w; else out = out " " w
    }
    print out
  }' <<<"$1"
}
count=0
while IFS= read -r line; do
  want=$(expected "$line")
  # The heading alone on its line, or a short one with its text after two blanks.
  awk -v want="$want" '$0 == want || index($0, want "  ") == 1 { found = 1 }
                       END { exit !found }' <<<"$rendered" ||
    fail "heading '$line' does not show whole as '$want'"
  count=$((count + 1))
done < <(grep -E '^\.(Sh|Ss|It) ' "$page")
echo "man page: lint clean, $count headings whole"
