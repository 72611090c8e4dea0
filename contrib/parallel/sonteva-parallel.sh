#!/bin/bash
# A catalogue on a handful of machines that share a folder, without a cluster engine:
# GNU parallel hands the N shards of the manifest to the machines of an sshloginfile
# (":" is this machine; "4/host" runs four shards at a time there), each shard one
# `sonteva convert --shard K/N --skip-done` with its own report. Run it again to finish
# what a lost machine or a failed shard left; then merge the reports (doc/catalogue.md):
#
#   sonteva-parallel.sh [-S SSHLOGINFILE] MANIFEST REPORT_DIR N [convert options]
#   sonteva report REPORT_DIR/*.ndjson
#
# The manifest, the masters, the deliverables and REPORT_DIR must have the same paths on
# every machine, and so must sonteva ($SONTEVA, else the one on PATH); each shard runs in
# a folder of the same path as this one. Exit status: the number of shards that failed.
set -euo pipefail

logins=
if [ "${1:-}" = -S ]; then
    logins=$2
    shift 2
fi
if [ $# -lt 3 ] || ! [[ $3 =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [-S SSHLOGINFILE] MANIFEST REPORT_DIR N [convert options]" >&2
    exit 2
fi
manifest=$(realpath -m -- "$1")
reports=$(realpath -m -- "$2")
tasks=$3
shift 3
sonteva=${SONTEVA:-sonteva}

mkdir -p "$reports"
hosts=(--sshlogin :)
[ -n "$logins" ] && hosts=(--sshloginfile "$logins")
# -q passes every word as it is (paths with spaces), locally and through ssh. parallel runs
# a shard per core of each machine, so each shard renders one file at a time (a later
# --jobs overrides it).
seq 0 $((tasks - 1)) | parallel --will-cite -q "${hosts[@]}" --workdir . \
    --joblog "$reports/parallel-joblog.txt" --line-buffer --tagstring 'shard {}' \
    "$sonteva" convert --manifest "$manifest" --shard "{}/$tasks" --skip-done --jobs 1 \
    --report "$reports/shard-{}-of-$tasks.ndjson" "$@"
