#!/bin/sh
# Runs a test as an unprivileged user when started as root: root reads and enters whatever the
# permission bits say, so a test about them would prove nothing.
if [ "$(id -u)" -eq 0 ]; then
    exec setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
fi
exec "$@"
