#!/bin/sh
# A delivery command for mpop and fetchmail: stores the message it reads from standard input,
# unchanged, as the next numbered file N.eml of the folder named by its argument. Both clients
# deliver one message at a time in the server's order, so N is the message's number.
set -eu
n=1
while [ -e "$1/$n.eml" ]; do
    n=$((n + 1))
done
cat > "$1/$n.eml.part"
mv "$1/$n.eml.part" "$1/$n.eml"
