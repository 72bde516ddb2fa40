#!/bin/sh
# Runs the playbook with the collection from this repository, then makes sure that neither
# password it used reached Ansible's output or its log. Arguments: the program, the project.
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ANSIBLE_COLLECTIONS_PATH="$2" ANSIBLE_LOG_PATH="$work/ansible.log" ANSIBLE_NOCOLOR=1 \
  ANSIBLE_LOCALHOST_WARNING=false ANSIBLE_INVENTORY_UNPARSED_WARNING=false
here=$(cd "$(dirname "$0")" && pwd)
status=0
ansible-playbook -vvv -i localhost, -e "corvane=$1 work=$work/run here=$here" \
  -e "machines=$2/machines" "$here/playbook.yml" >"$work/output.txt" 2>&1 || status=$?
if grep -n -e Lumo-1234 -e Wrong-Pass-77 "$work/output.txt" "$work/ansible.log"; then
  echo "a password reached the output or the log"
  status=1
fi
[ "$status" -eq 0 ] || tail -n 100 "$work/output.txt"
grep -A1 '^PLAY RECAP' "$work/output.txt"
exit "$status"
