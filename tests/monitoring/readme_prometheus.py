#!/usr/bin/python3
"""Checks the README's Prometheus set-up as a reader would copy it.

Every YAML block of the README's monitoring section must be a Prometheus
configuration that `promtool check config` accepts, naming the job the alert
rules expect, an evaluation interval and an Alertmanager, and loading only the
rule files the package installs, which `promtool check rules` accepts.

Usage: readme_prometheus.py README.md PACKAGED_MONITORING_DIR
"""
import pathlib
import re
import subprocess
import sys
import tempfile

import yaml

INSTALLED = "/usr/share/rfpanel/monitoring/"
SECTION = "## Monitoring a rack of converters"


def blocks(readme):
    section = readme.split(SECTION, 1)[1].split("\n## ", 1)[0]
    return re.findall(r"```yaml\n(.*?)```", section, re.S)


def promtool(*args):
    run = subprocess.run(["promtool", *args], capture_output=True, text=True, timeout=60)
    if run.returncode != 0:
        sys.exit(f"promtool {' '.join(args)} failed:\n{run.stdout}{run.stderr}")


def main(readme_path, packaged):
    found = blocks(pathlib.Path(readme_path).read_text(encoding="utf-8"))
    if not found:
        sys.exit("no YAML block in the monitoring section")
    with tempfile.TemporaryDirectory() as folder:
        for n, text in enumerate(found):
            config = yaml.safe_load(text)
            rules = config.get("rule_files", [])
            problems = [f"{path} is not a file the package installs" for path in rules
                        if not path.startswith(INSTALLED)
                        or not (pathlib.Path(packaged) / path[len(INSTALLED):]).is_file()]
            if "rfconverter" not in [job.get("job_name") for job in config.get("scrape_configs", [])]:
                problems.append('no job named "rfconverter", which the rules expect')
            if "evaluation_interval" not in config.get("global", {}):
                problems.append("no evaluation_interval")
            if not config.get("alerting", {}).get("alertmanagers"):
                problems.append("no Alertmanager")
            if problems:
                sys.exit(f"README block {n + 1}: " + "; ".join(problems))
            copy = pathlib.Path(folder) / f"prometheus-{n}.yml"
            copy.write_text(text.replace(INSTALLED, str(pathlib.Path(packaged).resolve()) + "/"))
            promtool("check", "config", str(copy))
            for path in rules:
                promtool("check", "rules", str(pathlib.Path(packaged) / path[len(INSTALLED):]))


if __name__ == "__main__":
    main(*sys.argv[1:])
