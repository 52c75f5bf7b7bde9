#!/usr/bin/env python3
"""Checks the scale-out manifests in deploy/ as far as it can be done without
a cluster or a running systemd: the Kubernetes Job is well-formed YAML, an
Indexed Job with completions == parallelism == M whose container runs
`--shard $(JOB_COMPLETION_INDEX)/M` with the index from the downward API,
the image the build makes (tovrik:VERSION) and a metrics port, served by
--metrics, with the scrape annotations that point at it;
every pod starts at one instant (--start-at from a variable whose value
the Job manifest holds, the same for every index), and a Job whose shards
--abort-on-fail fails as a whole on their exit code 3 (a podFailurePolicy
FailJob rule, restartPolicy Never);
the systemd template unit parses (systemd-analyze verify when there is one),
its ExecStart runs `--shard %i/${M}` and every variable it uses is set by
the shipped fleet.conf. With --cli, each shard's command line (the Job's for
every index, the unit's as systemd would expand it) is also given to
tovrik-cli with --dry-run, the target turned to 127.0.0.1, and must parse.

    check_manifests.py DEPLOY_DIR [--cli PATH/tovrik-cli] [--version VERSION]
"""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

import yaml

INDEX_ANNOTATION = "metadata.annotations['batch.kubernetes.io/job-completion-index']"
SHARD_INDEX = "$(JOB_COMPLETION_INDEX)"

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def option_value(args, name):
    """The value of `name VALUE` or `name=VALUE` in an argument list."""
    for i, arg in enumerate(args):
        if arg == name and i + 1 < len(args):
            return args[i + 1]
        if arg.startswith(name + "="):
            return arg[len(name) + 1:]
    return None


def with_loopback_target(args):
    """The same arguments sending to 127.0.0.1, never to the manifest's target."""
    out = list(args)
    for i, arg in enumerate(out):
        if arg in ("-t", "--target") and i + 1 < len(out):
            out[i + 1] = "127.0.0.1"
        elif arg.startswith("--target="):
            out[i] = "--target=127.0.0.1"
    return out


def try_cli(cli, args, what):
    """The arguments parse: tovrik-cli --dry-run accepts them."""
    if cli is None:
        return
    done = subprocess.run([cli] + with_loopback_target(args) + ["--dry-run"], stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60, check=False)
    check(done.returncode == 0, "%s: tovrik-cli %s --dry-run exits %d: %s" % (
        what, " ".join(args), done.returncode, done.stderr.decode(errors="replace").strip()))


def check_metrics_port(template, container):
    """A port named metrics, and the pod's scrape annotations naming it."""
    ports = [p for p in container.get("ports") or [] if p.get("name") == "metrics"]
    if not check(len(ports) == 1, "Job: one container port named metrics"):
        return None
    port = ports[0].get("containerPort")
    check(isinstance(port, int) and 0 < port < 65536, "Job: the metrics port is a port number, found %r" % port)
    check(ports[0].get("protocol", "TCP") == "TCP", "Job: the metrics port is TCP")
    annotations = template.get("metadata", {}).get("annotations") or {}
    expected = {"prometheus.io/scrape": "true", "prometheus.io/port": str(port), "prometheus.io/path": "/metrics"}
    for key, value in expected.items():
        found = annotations.get(key)
        check(found == value, "Job: pod annotation %s: %r, found %r" % (key, value, found))
    return port


def check_start_at(args, env):
    """--start-at $(VAR), VAR a literal value in the manifest: one instant for
    every pod, not one each pod reads of itself (its own creation time)."""
    start_at = option_value(args, "--start-at")
    match = re.fullmatch(r"\$\((\w+)\)", start_at or "")
    if not check(match is not None, "Job: --start-at $(VAR), found %r" % start_at):
        return None
    variable = env.get(match.group(1), {})
    value = variable.get("value")
    check(isinstance(value, str) and "valueFrom" not in variable,
          "Job: %s has one value for every pod in the manifest, found %r" % (match.group(1), variable))
    return match.group(0), value


def check_fail_policy(body, pod, container, args):
    """With --abort-on-fail, a shard's exit code 3 fails the Job."""
    if "--abort-on-fail" not in args:
        return
    check(option_value(args, "--threshold") is not None, "Job: --abort-on-fail with a --threshold")
    check(pod.get("restartPolicy") == "Never", "Job: a podFailurePolicy needs restartPolicy Never")
    rules = (body.get("podFailurePolicy") or {}).get("rules") or []
    fails = [r for r in rules if r.get("action") == "FailJob" and r.get("onExitCodes")]
    codes = fails[0]["onExitCodes"] if fails else {}
    check(codes.get("operator") == "In" and 3 in (codes.get("values") or []) and
          codes.get("containerName", container.get("name")) == container.get("name"),
          "Job: podFailurePolicy FailJob on exit code 3 of %s, found %r" % (container.get("name"), rules))


def check_job(path, cli, version):
    with open(path, encoding="utf-8") as f:
        documents = [d for d in yaml.safe_load_all(f) if d is not None]
    jobs = [d for d in documents if isinstance(d, dict) and d.get("kind") == "Job"]
    if not check(len(jobs) == 1, "%s: exactly one Job, found %d" % (path, len(jobs))):
        return
    job = jobs[0]
    check(job.get("apiVersion") == "batch/v1", "Job: apiVersion batch/v1")
    body = job.get("spec", {})
    check(body.get("completionMode") == "Indexed", "Job: completionMode Indexed")
    shards = body.get("completions")
    check(isinstance(shards, int) and shards >= 1, "Job: completions is a positive count")
    check(body.get("parallelism") == shards, "Job: parallelism %r == completions %r" % (body.get("parallelism"), shards))
    template = body.get("template", {})
    pod = template.get("spec", {})
    check(pod.get("restartPolicy") in ("Never", "OnFailure"), "Job: restartPolicy Never or OnFailure")
    containers = pod.get("containers") or []
    if not check(len(containers) == 1, "Job: one container"):
        return
    container = containers[0]
    if version:
        check(container.get("image") == "tovrik:" + version,
              "Job: image tovrik:%s (make image), found %r" % (version, container.get("image")))
    port = check_metrics_port(template, container)
    args = [str(a) for a in (container.get("command") or [])[1:] + (container.get("args") or [])]
    check(option_value(args, "--metrics") == "0.0.0.0:%s" % port,
          "Job: --metrics 0.0.0.0:%s, found %r" % (port, option_value(args, "--metrics")))
    check(option_value(args, "--shard") == "%s/%s" % (SHARD_INDEX, shards),
          "Job: --shard %s/%s in %s" % (SHARD_INDEX, shards, args))
    devices = option_value(args, "--devices")
    check(devices is not None and devices.isdigit() and int(devices) >= shards, "Job: --devices N with N >= M")
    # Kubernetes expands $(VAR) in args only for variables the container
    # declares: the index must come from the pod's annotation.
    env = {e.get("name"): e for e in container.get("env") or []}
    field = env.get("JOB_COMPLETION_INDEX", {}).get("valueFrom", {}).get("fieldRef", {}).get("fieldPath")
    check(field == INDEX_ANNOTATION, "Job: JOB_COMPLETION_INDEX from %s, found %r" % (INDEX_ANNOTATION, field))
    start_at = check_start_at(args, env)
    if start_at:
        args = [a.replace(start_at[0], start_at[1] or "") for a in args]
    check_fail_policy(body, pod, container, args)
    resources = container.get("resources", {})
    check(resources.get("requests") and resources.get("limits"), "Job: the container has requests and limits")
    if isinstance(shards, int):
        for index in range(shards):
            try_cli(cli, [a.replace(SHARD_INDEX, str(index)) for a in args], "Job index %d" % index)


def parse_unit(path):
    """Sections of a unit file as {section: [(key, value), ...]}, with
    backslash-continued lines joined; keys may repeat."""
    sections, current, pending = {}, None, ""
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = pending + raw.rstrip("\n")
            pending = ""
            if line.endswith("\\"):
                pending = line[:-1] + " "
                continue
            stripped = line.strip()
            if not stripped or stripped[0] in "#;":
                continue
            if stripped.startswith("[") and stripped.endswith("]"):
                current = sections.setdefault(stripped[1:-1], [])
                continue
            if current is None or "=" not in stripped:
                check(False, "%s:%d: not a key=value line inside a section: %r" % (path, number, stripped))
                continue
            key, value = stripped.split("=", 1)
            current.append((key.strip(), value.strip()))
    return sections


def read_environment_file(path):
    values = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line[0] in "#;":
                continue
            key, _, value = line.partition("=")
            values[key.strip()] = " ".join(shlex.split(value))
    return values


def expand_exec(command, instance, env):
    """ExecStart as systemd runs it: %i, ${VAR} inside a word, $VAR as a word
    of its own split at blanks (none when empty)."""
    out = []
    for word in shlex.split(command.replace("%i", instance)):
        whole = re.fullmatch(r"\$([A-Za-z_][A-Za-z0-9_]*)", word)
        if whole:
            out.extend(env.get(whole.group(1), "").split())
            continue
        out.append(re.sub(r"\$\{([A-Za-z_][A-Za-z0-9_]*)\}", lambda m: env.get(m.group(1), ""), word))
    return out


def check_unit(path, conf_path, cli):
    sections = parse_unit(path)
    for name in ("Unit", "Service", "Install"):
        check(name in sections, "unit: a [%s] section" % name)
    service = sections.get("Service", [])
    exec_start = [v for k, v in service if k == "ExecStart"]
    if not check(len(exec_start) == 1, "unit: one ExecStart"):
        return
    command = exec_start[0]
    words = shlex.split(command)
    check(os.path.basename(words[0]) == "tovrik-cli", "unit: ExecStart runs tovrik-cli")
    check(option_value(words, "--shard") == "%i/${M}", "unit: ExecStart carries --shard %%i/${M}: %s" % command)
    env_files = [v.lstrip("-") for k, v in service if k == "EnvironmentFile"]
    check("/etc/tovrik/fleet.conf" in env_files, "unit: EnvironmentFile=/etc/tovrik/fleet.conf")

    env = read_environment_file(conf_path)
    used = set(re.findall(r"\$\{?([A-Za-z_][A-Za-z0-9_]*)\}?", command))
    optional = {"SHARD_ARGS"}  # from the optional per-shard file
    check(not (used - optional - set(env)), "fleet.conf lacks %s" % sorted(used - optional - set(env)))
    shards = env.get("M", "")
    if check(shards.isdigit() and int(shards) >= 1, "fleet.conf: M is a positive count"):
        for index in (0, int(shards) - 1):
            argv = expand_exec(command, str(index), env)
            check(option_value(argv, "--shard") == "%d/%s" % (index, shards), "unit: instance %d runs --shard %d/%s"
                  % (index, index, shards))
            try_cli(cli, argv[1:], "unit instance %d" % index)
    verify_unit(path, words[0], cli)


def verify_unit(path, binary, cli):
    """systemd-analyze verify on an instance of the template, with the
    binary's path turned to the built one (verify wants it executable)."""
    analyze = shutil.which("systemd-analyze")
    if analyze is None:
        print("systemd-analyze not found: the unit was checked by the parser above only")
        return
    with tempfile.TemporaryDirectory(prefix="tovrik-unit-") as workdir:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        template = os.path.join(workdir, os.path.basename(path))
        with open(template, "w", encoding="utf-8") as f:
            f.write(text.replace(binary, os.path.abspath(cli) if cli else "/bin/true"))
        instance = os.path.join(workdir, os.path.basename(path).replace("@.", "@3."))
        os.symlink(os.path.basename(path), instance)
        # Its Documentation= page is installed with the package, not here.
        done = subprocess.run([analyze, "verify", "--man=no", instance], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=60, check=False)
        # Unknown keys and bad values are only warned about: any output fails.
        report = done.stdout.decode(errors="replace").strip()
        check(done.returncode == 0 and not report, "systemd-analyze verify: %s" % (report or done.returncode))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("deploy_dir")
    ap.add_argument("--cli", help="tovrik-cli to try the shards' command lines with (--dry-run)")
    ap.add_argument("--version", help="the project's version: the Job must run tovrik:VERSION")
    args = ap.parse_args()
    if args.cli and not os.access(args.cli, os.X_OK):
        ap.error("%s is not an executable" % args.cli)
    check_job(os.path.join(args.deploy_dir, "kubernetes", "tovrik-fleet-job.yaml"), args.cli, args.version)
    check_unit(os.path.join(args.deploy_dir, "systemd", "tovrik-fleet@.service"),
               os.path.join(args.deploy_dir, "systemd", "fleet.conf"), args.cli)
    for failure in failures:
        print("FAILED: " + failure)
    print("deploy manifests: %s" % ("%d check(s) failed" % len(failures) if failures else "all checks passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
