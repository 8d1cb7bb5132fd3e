#!/usr/bin/env bash
# Writes a program's manual page (section 1) from its --help text, so the
# page always lists the options the program takes, as it describes them.
# Usage: scripts/manpage.sh PROGRAM NAME VERSION "SUMMARY" "SEE ALSO" > NAME.1
set -euo pipefail

program="$1" name="$2" version="$3" summary="$4" see="$5"
"$program" --help | LC_ALL=C awk -v name="$name" -v version="$version" -v summary="$summary" -v see="$see" '
# Text as roff takes it: backslashes doubled, hyphens as minus signs, and no
# line starting with a control character.
function esc(text) {
  gsub(/\\/, "\\e", text)
  gsub(/-/, "\\-", text)
  if (text ~ /^[.\047]/) text = "\\&" text
  return text
}
function trim(text) { sub(/^[ \t]+/, "", text); sub(/[ \t]+$/, "", text); return text }
function flush_option() {
  if (option == "") return
  split(option, parts, " ")
  printf ".TP\n\\fB%s\\fR", esc(parts[1])
  rest = substr(option, length(parts[1]) + 2)
  if (rest != "") printf " \\fI%s\\fR", esc(rest)
  printf "\n%s\n", esc(trim(text))
  option = ""; text = ""
}
NR == 1 {
  sub(/^Usage: [^ ]+ ?/, "")
  synopsis = $0
  state = "synopsis"
  next
}
state == "synopsis" && /^       / { synopsis = synopsis " " trim($0); next }
state == "synopsis" {
  print ".TH " toupper(name) " 1 \"\" \"skarv " version "\" \"User Commands\""
  print ".SH NAME"
  print name " \\- " esc(summary)
  print ".SH SYNOPSIS"
  print ".B " name
  print esc(synopsis)
  print ".SH DESCRIPTION"
  state = "description"
}
state == "description" && /^$/ { state = "options"; print ".SH OPTIONS"; next }
state == "description" { print esc($0); next }
state == "options" && /^  -/ {
  flush_option()
  line = substr($0, 3)
  at = match(line, /  +/)
  if (at > 0) { option = substr(line, 1, at - 1); text = substr(line, at + RLENGTH) }
  else {
    # A name and value too long for the column, one space before the text:
    # the value is the word in capitals after the name.
    count = split(line, words, " ")
    words_taken = (count > 1 && words[2] ~ /^[A-Z[]/) ? 2 : 1
    option = words[1] (words_taken == 2 ? " " words[2] : "")
    text = (count > words_taken) ? substr(line, length(option) + 2) : ""
  }
  next
}
state == "options" && /^     / { text = text " " trim($0); next }
state == "options" && /^$/ { flush_option(); next }
state == "options" { flush_option(); state = "notes"; print ".SH NOTES" }
state == "notes" { print esc($0) }
END {
  flush_option()
  print ".SH SEE ALSO"
  print esc(see)
}
'
