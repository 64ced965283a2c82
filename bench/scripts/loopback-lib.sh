# Shared by the benchmark scripts: a private nginx on 127.0.0.1 and settings
# files with many entries. Source it; everything lives under $WORK.

# A free TCP port on 127.0.0.1.
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# start_nginx PORT: an nginx answering 200 on 127.0.0.1:PORT until stop_nginx.
start_nginx() {
    local port=$1
    mkdir -p "$WORK/nginx/logs" "$WORK/nginx/tmp"
    cat > "$WORK/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/logs/error.log;
events { worker_connections 4096; }
http {
    access_log off;
    client_body_temp_path $WORK/nginx/tmp;
    proxy_temp_path $WORK/nginx/tmp;
    fastcgi_temp_path $WORK/nginx/tmp;
    uwsgi_temp_path $WORK/nginx/tmp;
    scgi_temp_path $WORK/nginx/tmp;
    server {
        listen 127.0.0.1:$port;
        location / { return 200 "ok\n"; }
    }
}
CONF
    nginx -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" || return 1
    for _ in $(seq 50); do
        (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && return 0
        sleep 0.1
    done
    echo "nginx did not start" >&2
    return 1
}

stop_nginx() {
    [ -f "$WORK/nginx/nginx.pid" ] && kill "$(cat "$WORK/nginx/nginx.pid")" 2>/dev/null
    rm -f "$WORK/nginx/nginx.pid"
}

# write_hosts FILE COUNT PROTOCOL PORT FREQ: a settings file of COUNT entries
# polling 127.0.0.1, notifications off.
write_hosts() {
    local file=$1 count=$2 protocol=$3 port=$4 freq=$5
    {
        echo "[HOSTS]"
        for ((i = 0; i < count; i++)); do
            printf '%d\\ADDR=127.0.0.1\n%d\\DOMA=\n%d\\ENBL=1\n%d\\FLOT=0\n%d\\FREQ=%d sec\n%d\\FSEN=10\n' \
                $i $i $i $i $i "$freq" $i
            printf '%d\\HOST=127.0.0.1\n%d\\NICK=\n%d\\NMAD=\n%d\\NMEN=0\n%d\\NMSV=\n%d\\NOFY=0\n' $i $i $i $i $i $i
            printf '%d\\NPEN=0\n%d\\NPSQ=\n%d\\NSEN=0\n%d\\NSFL=\n%d\\PORT=%d\n%d\\PROT=%s\n%d\\PSWD=\n%d\\USID=\n' \
                $i $i $i $i $i "$port" $i "$protocol" $i $i
        done
        echo "Count=$count"
    } > "$file"
}

# CPU seconds (user + system) of a process tree measured by /usr/bin/time -f.
