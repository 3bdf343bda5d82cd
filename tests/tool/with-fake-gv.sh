#!/bin/sh
# Runs a command while Aravis's fake GigE Vision camera serves on 127.0.0.1;
# exits with the command's status. Only inside a private network namespace.
arv-fake-gv-camera-0.8 -i 127.0.0.1 >/dev/null 2>&1 &
fake=$!
sleep 0.5
"$@"
status=$?
kill "$fake"
wait "$fake" 2>/dev/null
exit "$status"
