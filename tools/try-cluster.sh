#!/usr/bin/env bash
# Past one broker, tried once (not part of CI): a three-node RabbitMQ cluster
# with its MQTT plugin and quorum queues on this machine, two stations on the
# simulated instrument and two collectors into one PostgreSQL through it.
# Mid-run one broker node (the one station B and collector 1 use) is killed
# for 20 s; at the end each run in the database must hold exactly the
# readings of its data files, each once. Run after run-tests.sh built build/:
#   tools/try-cluster.sh        (prints what it did and "cluster trial: whole")
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-packages.sh" rabbitmq-server postgresql
build="$root/build"
seconds=${SECONDS_OF_RUN:-90}

work=$(mktemp -d /tmp/calorivista-cluster.XXXXXX)
chmod 755 "$work"
host=$(hostname -s)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for n in 1 2 3; do rabbitmqctl -n "rabbit$n@$host" stop >/dev/null 2>&1 || true; done
    [ -n "${pgbin:-}" ] && su postgres -c "$pgbin/pg_ctl -D $work/pg -m fast stop" >/dev/null 2>&1 || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

# --- three RabbitMQ nodes, one cluster ---------------------------------------
start_node() { # n
    local n=$1 dir="$work/rabbit$n"
    mkdir -p "$dir/mnesia" "$dir/log"
    cat >"$dir/rabbitmq.conf" <<CONF
listeners.tcp.default = $((5671 + n))
mqtt.listeners.tcp.default = $((1882 + n))
mqtt.durable_queue_type = quorum
mqtt.allow_anonymous = true
loopback_users = none
CONF
    echo "[rabbitmq_mqtt]." >"$dir/enabled_plugins"
    chown -R rabbitmq:rabbitmq "$dir"
    env RABBITMQ_NODENAME="rabbit$n@$host" RABBITMQ_DIST_PORT=$((25671 + n)) \
        RABBITMQ_CONFIG_FILE="$dir/rabbitmq.conf" RABBITMQ_ENABLED_PLUGINS_FILE="$dir/enabled_plugins" \
        RABBITMQ_MNESIA_BASE="$dir/mnesia" RABBITMQ_LOG_BASE="$dir/log" RABBITMQ_PID_FILE="$dir/pid" \
        rabbitmq-server >"$dir/out.log" 2>&1 &
    rabbitmqctl -n "rabbit$n@$host" wait --timeout 120 "$dir/pid" >/dev/null
}
for n in 1 2 3; do start_node "$n"; done
for n in 2 3; do
    rabbitmqctl -n "rabbit$n@$host" stop_app >/dev/null
    rabbitmqctl -n "rabbit$n@$host" join_cluster "rabbit1@$host" >/dev/null
    rabbitmqctl -n "rabbit$n@$host" start_app >/dev/null
done
rabbitmqctl -n "rabbit1@$host" cluster_status | grep -A4 'Running Nodes'

# --- one PostgreSQL -----------------------------------------------------------
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
pgport=55432
mkdir -p "$work/pg" && chown postgres "$work/pg"
su postgres -c "$pgbin/initdb -D $work/pg -A trust -U postgres -E UTF8 --locale=C" >/dev/null
su postgres -c "$pgbin/pg_ctl -D $work/pg -o '-p $pgport -k $work/pg -c listen_addresses=127.0.0.1' -l $work/pg/log -w start" >/dev/null
su postgres -c "$pgbin/createdb -h 127.0.0.1 -p $pgport calorivista"
db="host=127.0.0.1 port=$pgport dbname=calorivista user=postgres"
psql() { "$pgbin/psql" -X -A -t -q -d "$db" -c "$1"; }

# --- two collectors: collector 1 on node 2, collector 2 on node 3 ----------------
for c in 1 2; do
    "$build/programs/calorivista-collect" --broker "127.0.0.1:$((1883 + c))" --db "$db" --id "trial-$c" >"$work/collector$c.log" 2>&1 &
    pids+=($!)
done
sleep 3

# --- two stations: A on node 1, B on node 2 ------------------------------------
start_station() { # name node
    local name=$1 node=$2 home="$work/$1"
    mkdir -p "$home/config/Calorivista" "$home/records"
    "$build/tools/calorivista-sim" --rate 1280 --profile ramp:500:1500:$seconds --quiet >"$home/simulator.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do grep -q '^device: ' "$home/simulator.log" && break; sleep 0.1; done
    cat >"$home/config/Calorivista/Calorivista.conf" <<CONF
[General]
BaudRate=115200
PortNumber=1
TimeBetweenSaving=5
SavingPath=$home/records
PortDevice1=$(sed -n 's/^device: //p' "$home/simulator.log")
MqttHost=127.0.0.1
MqttPort=$((1882 + node))
MqttStation=$name
CONF
    (cd "$home" && XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=offscreen \
        exec "$build/tests/calorivista-autostart" >"$home/program.log" 2>&1) &
    eval "station_$name=$!"
    pids+=($!)
}
start_station A 1
start_station B 2
sleep $((seconds / 3))

# --- node 2 killed for 20 s mid-run -------------------------------------------
echo "killing rabbit2 (station B's and collector 1's node) for 20 s"
kill -9 "$(cat "$work/rabbit2/pid")"
sleep 20
start_node 2
echo "rabbit2 back"
sleep $((seconds / 3))

kill -TERM "$station_A" "$station_B"
wait "$station_A" "$station_B" || true

# --- whole? -------------------------------------------------------------------
lines_of() { # records folder: the readings of its data files
    local total=0 f
    for f in "$1"/[0-9][0-9][0-9][0-9]; do total=$((total + $(wc -l <"$f") - 1)); done
    echo "$total"
}
verdict=whole
for name in A B; do
    want=$(lines_of "$work/$name/records")
    for _ in $(seq 120); do
        have=$(psql "SELECT count(DISTINCT seq) FROM readings WHERE station = '$name'")
        [ "$have" -ge "$want" ] && break
        sleep 1
    done
    read -r all distinct top < <(psql "SELECT count(*), count(DISTINCT seq), max(seq) + 1 FROM readings WHERE station = '$name'" | tr '|' ' ')
    gaps=$(psql "SELECT count(*) FROM gaps WHERE station = '$name'")
    echo "station $name: data files $want readings; database $all rows, $distinct seqs, seq 0..$((top - 1)), $gaps gaps"
    [ "$all" = "$want" ] && [ "$distinct" = "$want" ] && [ "$top" = "$want" ] && [ "$gaps" = 0 ] || verdict="NOT whole"
done
grep -h "asked for\|complete\|lost" "$work"/collector*.log | head -20 || true
echo "cluster trial: $verdict"
[ "$verdict" = whole ]
