#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests, from Debian's packages: a
# cluster in DIR, listening on a free loopback port, with a database "site"
# that user "vantor" may use without a password.
#
#   tools/pg_test_server.sh start DIR   makes and starts it; DIR/url holds its URL
#   tools/pg_test_server.sh pause DIR   stops the server, keeping the cluster
#   tools/pg_test_server.sh resume DIR  starts it again on the same port
#   tools/pg_test_server.sh stop DIR    stops it and removes DIR
#
# initdb will not run as root: as root the server runs as the postgres user.
set -euo pipefail
command=${1:?start, pause, resume or stop}
dir=${2:?the cluster\'s folder}

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [[ -z $bin ]]; then
    echo "PostgreSQL's server is not installed (Debian: apt-get install postgresql)" >&2
    exit 1
fi
as=()
if [[ $(id -u) -eq 0 ]]; then
    as=(runuser -u postgres --)
fi

server() { # start or stop, on the port in DIR/port
    local port
    port=$(cat "$dir/port")
    "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w -t 30 \
        -o "-h 127.0.0.1 -p $port -k $dir -c fsync=off" "$@" >/dev/null
}

case $command in
start)
    rm -rf "$dir"
    mkdir -p "$dir"
    [[ ${#as[@]} -eq 0 ]] || chown postgres "$dir"
    "${as[@]}" "$bin/initdb" -D "$dir/data" -U vantor -A trust --no-sync >"$dir/initdb.log"
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' \
        >"$dir/port"
    server start
    "${as[@]}" "$bin/createdb" -h 127.0.0.1 -p "$(cat "$dir/port")" -U vantor site
    echo "postgresql://vantor@127.0.0.1:$(cat "$dir/port")/site" >"$dir/url"
    ;;
pause) server stop -m fast ;;
resume) server start ;;
stop)
    if [[ -d $dir/data ]]; then
        server stop -m immediate || true
    fi
    rm -rf "$dir"
    ;;
*)
    echo "unknown command $command: start, pause, resume or stop" >&2
    exit 2
    ;;
esac
