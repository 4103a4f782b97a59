#!/usr/bin/env bash
# The plant-scale examples of docs/fleet.md, run for real: GNU parallel and
# the Ansible playbooks (local connection, one "service PC" per simulator)
# against three simulators on loopback, several modules each.
# Usage: run_fleet_test.sh BIN_DIR DOCS_DIR. Exit 77 (skipped) when GNU
# parallel or ansible-playbook is missing.
set -euo pipefail
bin=$(cd "$1" && pwd)
docs=$(cd "$2" && pwd)
fleet=$docs/fleet
for tool in parallel ansible-playbook ansible-inventory; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/deps.sh installs it)"
        exit 77
    fi
done

tmp=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# A plant list that is not there is an error, not an empty plant.
for plant in /nonexistent/plant.txt "$docs"; do
    if sh "$fleet/parallel.sh" apply /dev/null "$plant" 2>/dev/null; then
        fail "parallel.sh exits 0 without the plant list $plant"
    fi
done

export PATH="$bin:$PATH"
# The connection's other parts come from an empty settings file.
: >"$tmp/W_rq905.ini"
rq905ctl() { command rq905ctl "$@" --settings "$tmp/W_rq905.ini"; }

# The documents show what runs here.
for example in parallel.sh apply.yml diff.yml plant.txt inventory.yml; do
    python3 - "$fleet/$example" "$docs/fleet.md" <<'PY' || fail "docs/fleet.md does not show $example as it is"
import sys
example = open(sys.argv[1]).read()
doc = open(sys.argv[2]).read()
indented = "".join("    " + l if l.strip() else l for l in example.splitlines(True))
sys.exit(0 if indented in doc else 1)
PY
done

ports=()
for n in 1 2 3; do
    mkfifo "$tmp/console$n"
    "$bin/rq905-sim" --fresh --state "$tmp/state$n" --udp 0 --modules 3 --address 1 --quiet \
        <"$tmp/console$n" >"$tmp/sim$n.out" 2>&1 &
    pids+=($!)
    exec {fd}>"$tmp/console$n"  # held open: the console stays
    for _ in $(seq 100); do grep -q '^ready' "$tmp/sim$n.out" && break; sleep 0.05; done
    ports+=("$(sed -n 's/^udp 127.0.0.1://p' "$tmp/sim$n.out")")
    [[ -n ${ports[-1]} ]] || fail "simulator $n did not start: $(cat "$tmp/sim$n.out")"
done
plant=$tmp/plant.txt
{
    echo "# three converters on loopback"
    for port in "${ports[@]}"; do echo "lan:127.0.0.1:$port 1-3"; done
} >"$plant"
lan() { echo --kind lan --ip 127.0.0.1 --udp-port "${ports[$1]}"; }

# The file: module 1 of the first converter, with outputs it has not.
rq905ctl config save "$tmp/rq905.ini" $(lan 0) --address 1 >/dev/null
sed -i 's/^dout_initial=.*/dout_initial=0x5A/' "$tmp/rq905.ini"

echo "GNU parallel: apply and diff across the three converters"
out=$("$fleet/parallel.sh" apply "$tmp/rq905.ini" "$plant" 3) || fail "parallel apply exited $?: $out"
[[ $(grep -c '"written":\[32,33,34,35,36,37\]' <<<"$out") == 9 ]] || fail "parallel apply: $out"
out=$("$fleet/parallel.sh" diff "$tmp/rq905.ini" "$plant" 3) || fail "parallel diff exited $?: $out"
[[ $(grep -c '"equal":true' <<<"$out") == 9 ]] || fail "parallel diff: $out"
rq905ctl config write $(lan 1) --address 2 --dout-initial 0x0F >/dev/null
set +e
out=$("$fleet/parallel.sh" diff "$tmp/rq905.ini" "$plant" 3)
status=$?
set -e
[[ $status == 1 ]] || fail "parallel diff with one module changed exited $status: $out"
grep -q "\"converter\":\"lan:127.0.0.1:${ports[1]}\",\"address\":2,\"equal\":false" <<<"$out" ||
    fail "parallel diff names no changed module: $out"

echo "Ansible: the example inventory, then the playbooks on three local 'PCs'"
ansible-inventory -i "$fleet/inventory.yml" --list >"$tmp/inventory.json"
python3 - "$tmp/inventory.json" <<'PY' || fail "the example inventory lost its hosts' lines"
import json, sys
hosts = json.load(open(sys.argv[1]))["_meta"]["hostvars"]
sys.exit(0 if len(hosts) == 3 and all(h.get("rq905_targets") for h in hosts.values()) else 1)
PY
{
    echo "all:"
    echo "  children:"
    echo "    service_pcs:"
    echo "      hosts:"
    for n in 0 1 2; do
        echo "        pc$((n + 1)):"
        echo "          ansible_connection: local"
        echo "          ansible_python_interpreter: $(command -v python3)"
        echo "          rq905_config_path: $tmp/pc$((n + 1)).ini"
        echo "          rq905_targets: |"
        echo "            lan:127.0.0.1:${ports[$n]} 1-3"
    done
} >"$tmp/inventory.yml"
export ANSIBLE_LOCAL_TEMP=$tmp/ansible-local ANSIBLE_REMOTE_TEMP=$tmp/ansible-remote
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_HOST_KEY_CHECKING=0
# The module of a local connection runs without our PATH.
playbook() { ansible-playbook -i "$tmp/inventory.yml" "$fleet/$1" -e "config_file=$tmp/rq905.ini" -e "rq905ctl=$bin/rq905ctl"; }

out=$(playbook apply.yml) || fail "ansible apply: $out"
for n in 1 2 3; do
    grep -Eq "^pc$n +: ok=4 +changed=2 +unreachable=0 +failed=0" <<<"$out" || fail "ansible apply on pc$n: $out"
done
out=$(playbook diff.yml) || fail "ansible diff after apply: $out"
rq905ctl config write $(lan 2) --address 3 --pwm-initial 1234 >/dev/null
set +e
out=$(playbook diff.yml)
status=$?
set -e
[[ $status != 0 ]] || fail "ansible diff passed a changed module: $out"
grep -Eq '^pc3 +: .*failed=1' <<<"$out" || fail "ansible diff did not fail pc3: $out"
grep -Eq '^pc[12] +: .*failed=0' <<<"$out" || fail "ansible diff failed another PC: $out"
grep -q "pwm_initial" <<<"$out" || fail "ansible diff does not name the key: $out"
echo "PASS"
