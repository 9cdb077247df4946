#!/bin/sh
# Checks the Prometheus examples as Prometheus would take them: the
# configuration, the alert rules, and the rules' own tests.
#   check_examples.sh EXAMPLES_DIR
# Exits 77 (skipped) where promtool is missing.
set -eu
if ! command -v promtool >/dev/null; then
    echo "check_examples: skipped, promtool is missing (scripts/setup installs prometheus)"
    exit 77
fi
cd "$1"
promtool check config prometheus.yml
promtool check rules zyl-alerts.yml
promtool test rules zyl-alerts.test.yml
