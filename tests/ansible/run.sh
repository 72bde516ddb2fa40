#!/bin/sh
# Runs every playbook of this folder on simulated machines with the collection from this
# repository, then makes sure that no password reached a command line, Ansible's output or its
# log. Arguments: the program, the project.
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ANSIBLE_COLLECTIONS_PATH="$2" ANSIBLE_LOG_PATH="$work/ansible.log" ANSIBLE_NOCOLOR=1 \
  ANSIBLE_LOCALHOST_WARNING=false ANSIBLE_INVENTORY_UNPARSED_WARNING=false
here=$(cd "$(dirname "$0")" && pwd)
mkdir -m 700 "$work/run" "$work/run/no-firmware-attributes"
status=0
for playbook in setup baseline partial rotation facts no-interface signed; do
  ansible-playbook -vvv -i "$here/inventory.yml" -e "corvane=$1 work=$work/run here=$here" \
    -e "machines=$2/machines" "$here/$playbook.yml" >"$work/$playbook.txt" 2>&1 || {
    status=1
    tail -n 100 "$work/$playbook.txt"
  }
  grep -A8 '^PLAY RECAP' "$work/$playbook.txt" | grep -v '^$' || true
done
cat "$work"/*.txt >"$work/output.txt"
if grep -n -e Lumo-1234 -e Wrong-Pass-77 -e Think-202 -e Pro4100 \
    "$work/output.txt" "$work/ansible.log" "$work/run/command-lines.txt"; then
  echo "a password reached a command line, the output or the log"
  status=1
fi
grep -q '^corvane /pwdstdin /SetConfig:' "$work/run/command-lines.txt" || {
  echo "the programs' command lines were not recorded"
  status=1
}
exit "$status"
