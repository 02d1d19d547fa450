#!/usr/bin/env python3
"""Builds the .deb with CPack and checks it as Debian's tools do: lintian
reports no error or warning but those the README accepts with a reason, the
AppStream metainfo validates, both programs and their manual pages are in,
and the probe's manual page agrees with the README.

Usage: deb_test.py CPACK CPackConfig.cmake README.md WORK-FOLDER
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

CPACK, CPACK_CONFIG, README, WORK = sys.argv[1:5]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL: " + what, flush=True)


def run(args, timeout, env=None):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, env=env)


def readme_section(heading):
    """The README's lines under a heading, up to the next heading."""
    readme = open(README, encoding="utf-8").read()
    m = re.search(r"^#+ %s\n(.*?)(?=^#+ |\Z)" % re.escape(heading), readme, re.S | re.M)
    check(m is not None, "README has a section '%s'" % heading)
    return m.group(1).splitlines() if m else []


def accepted_tags():
    """`- `tag`: reason` lines; a tag without a reason is not accepted."""
    tags = {}
    for line in readme_section("Lintian tags accepted"):
        m = re.match(r"^- `([a-z0-9+.-]+)`: (\S.*)$", line)
        if m:
            tags[m.group(1)] = m.group(2)
    return tags


def check_lintian(deb):
    p = run(["lintian", "--allow-root", "--fail-on", "none", deb], 600)
    check(p.returncode == 0, "lintian ran (status %d): %s" % (p.returncode, p.stderr.strip()))
    accepted = accepted_tags()
    for line in p.stdout.splitlines():
        m = re.match(r"^([EW]): \S+: (\S+)", line)
        if m and m.group(2) not in accepted:
            check(False, "lintian: " + line)


def check_metainfo(root):
    files = glob.glob(os.path.join(root, "usr/share/metainfo/*.metainfo.xml"))
    check(len(files) == 1, "one metainfo file in usr/share/metainfo: %r" % files)
    for f in files:
        p = run(["appstreamcli", "validate", "--no-net", f], 120)
        bad = [l for l in p.stdout.splitlines() if re.match(r"^[EW]: ", l)]
        check(p.returncode == 0 and not bad, "appstreamcli validate (status %d): %s" % (p.returncode, p.stdout.strip()))


def man_text(page):
    env = dict(os.environ, MANWIDTH="200", LC_ALL="C.UTF-8")
    p = run(["man", "-E", "ascii", "-l", page], 60, env)
    check(p.returncode == 0 and not p.stderr.strip(), "man -l %s: %s" % (page, p.stderr.strip()))
    return p.stdout


def man_section(text, name):
    m = re.search(r"^%s\n(.*?)(?=^\S)" % re.escape(name), text, re.S | re.M)
    return [l.strip() for l in m.group(1).splitlines() if l.strip()] if m else []


def check_probe_page(root):
    """The example and the exit statuses the README gives, in the page."""
    text = man_text(os.path.join(root, "usr/share/man/man1/quorvel-get.1.gz"))
    readme = open(README, encoding="utf-8").read()
    m = re.search(r"^## The HTTP probe\n.*?^```sh\n(.*?)^```", readme, re.S | re.M)
    check(m is not None, "README's probe section has an example")
    if m:
        example = [l.replace("build/default/tools/quorvel-get", "quorvel-get") for l in m.group(1).splitlines()]
        page = man_section(text, "EXAMPLE")
        check(page[1:] == example, "the page's example is the README's:\n%s\n---\n%s"
              % ("\n".join(page[1:]), "\n".join(example)))
        keys = [l.split("=", 1)[0] for l in example if re.match(r"^[a-z_]+=", l)][:7]
        items = [l.split()[0] for l in man_section(text, "DESCRIPTION")]
        check(len(keys) == 7 and all(k in items for k in keys), "each key has its item in DESCRIPTION: %r" % keys)
    status = " ".join(" ".join(man_section(text, "EXIT STATUS")).split())
    check(re.search(r"^0 result=true\. 1 result=false\b.* 2 Usage error", status) is not None,
          "exit statuses 0, 1 and 2 as in the README: %r" % status)


def main():
    for tool in (CPACK, "dpkg-shlibdeps", "lintian", "appstreamcli", "dpkg-deb", "man"):
        check(shutil.which(tool) is not None, "%s is installed (bash scripts/deps.sh test)" % tool)
    if failures:
        return
    os.makedirs(WORK, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="deb-test-", dir=WORK) as out:
        p = run([CPACK, "--config", CPACK_CONFIG, "-B", out], 600)
        debs = glob.glob(os.path.join(out, "*.deb"))
        check(p.returncode == 0 and len(debs) == 1, "cpack made one .deb (status %d): %s %s"
              % (p.returncode, p.stdout[-2000:], p.stderr[-2000:]))
        if not debs:
            return
        check_lintian(debs[0])
        root = os.path.join(out, "root")
        p = run(["dpkg-deb", "-x", debs[0], root], 60)
        check(p.returncode == 0, "dpkg-deb -x: " + p.stderr)
        for f in ("usr/bin/quorvel", "usr/bin/quorvel-get",
                  "usr/share/man/man1/quorvel.1.gz", "usr/share/man/man1/quorvel-get.1.gz"):
            check(os.path.isfile(os.path.join(root, f)), "the package holds /" + f)
        check_metainfo(root)
        check_probe_page(root)


main()
print("deb_test: %d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
