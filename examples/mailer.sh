#!/bin/sh
# A stand-in mail program for Email.SendOutbox: PellarLib starts it with the
# outbox folder as its argument (no shell, nothing on stdout or stderr) and
# does not wait for it. It sends nothing; it lists the spool documents it
# finds, with their recipients, subjects and attachments, into
# mailer.txt in that outbox.
#
# An outbox path with blanks arrives as several arguments: join them again.
outbox="$*"
[ -n "$outbox" ] && [ -d "$outbox" ] || exit 1

# The text of each <name>...</name> line of a spool document, CR removed
# and the common character references turned back into characters.
field() {
  sed -n "s:^<$1>\\(.*\\)</$1>\\r*\$:\\1:p" "$2" |
    sed -e 's/&lt;/</g' -e 's/&gt;/>/g' -e 's/&quot;/"/g' \
      -e "s/&apos;/'/g" -e 's/&amp;/\&/g'
}

{
  echo "Outbox: $outbox"
  for doc in "$outbox"/*.xml; do
    [ -f "$doc" ] || continue
    echo "$(basename "$doc"): to $(field To "$doc" | head -n 1)," \
      "subject $(field Subject "$doc" | head -n 1)," \
      "$(field Attach "$doc" | wc -l | tr -d ' ') attachment(s)"
  done
} > "$outbox/mailer.txt"
