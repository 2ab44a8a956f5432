#!/usr/bin/env bash
# A private course server: Apache httpd on a free loopback port, run as a process of its own
# with its config, pid file and logs in DIR, serving DIR/docroot with basic authentication
# below /tavelo (the same server software and setup the tests use).
#   tools/course-server.sh start DIR USER PASSWORD   prints the port it listens on
#   tools/course-server.sh stop DIR
set -euo pipefail
action=${1:?start or stop}
dir=$(cd "${2:?server folder}" && pwd)
conf="$dir/httpd.conf"

case "$action" in
start)
    user=${3:?user} password=${4:?password}
    mkdir -p "$dir/docroot/tavelo"
    htpasswd -bc "$dir/htpasswd" "$user" "$password" >/dev/null 2>&1
    for _ in 1 2 3 4 5; do
        port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
        {
            echo "ServerRoot /usr/lib/apache2"
            echo "Listen 127.0.0.1:$port"
            echo "PidFile $dir/httpd.pid"
            echo "ErrorLog $dir/error.log"
            echo "CustomLog $dir/access.log \"%r %>s\""
            echo "TypesConfig /etc/mime.types"
            echo "ServerName localhost"
            for module in mpm_event authz_core authn_core authn_file authz_user auth_basic mime; do
                echo "LoadModule ${module}_module modules/mod_${module}.so"
            done
            echo "DocumentRoot \"$dir/docroot\""
            echo "<Directory \"$dir/docroot/tavelo\">"
            echo "  AuthType Basic"
            echo "  AuthName \"courses\""
            echo "  AuthUserFile \"$dir/htpasswd\""
            echo "  Require valid-user"
            echo "</Directory>"
        } >"$conf"
        if /usr/sbin/apache2 -f "$conf" -k start >>"$dir/start.log" 2>&1; then
            for _ in $(seq 100); do
                if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
                    echo "$port"
                    exit 0
                fi
                sleep 0.05
            done
            /usr/sbin/apache2 -f "$conf" -k stop >/dev/null 2>&1 || true
        fi
    done
    echo "course-server: Apache did not start (see $dir/start.log and $dir/error.log)" >&2
    exit 1
    ;;
stop)
    [ -f "$dir/httpd.pid" ] || exit 0
    /usr/sbin/apache2 -f "$conf" -k stop >/dev/null 2>&1 || kill "$(cat "$dir/httpd.pid")" 2>/dev/null || true
    for _ in $(seq 100); do
        [ -f "$dir/httpd.pid" ] || exit 0
        sleep 0.05
    done
    ;;
*)
    echo "usage: $0 start DIR USER PASSWORD | stop DIR" >&2
    exit 2
    ;;
esac
