"""What the scripts that drive the programs end to end share: checks, waiting, and the
processes they start, each logging to a file of its own in one temporary folder."""
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

WORK = tempfile.mkdtemp()
ENV = dict(os.environ, XDG_CONFIG_HOME=f"{WORK}/config", XDG_RUNTIME_DIR=f"{WORK}/runtime")
procs = {}


def check(ok, what):
    if not ok:
        raise AssertionError(what)


def expect(got, wanted, what):
    check(got == wanted, f"{what}\n  expected: {wanted!r}\n  got:      {got!r}")


def log(name):
    return pathlib.Path(f"{WORK}/{name}.log").read_text(errors="replace")


def wait_for(what, probe, seconds=5):
    end = time.monotonic() + seconds
    while not (got := probe()):
        check(time.monotonic() < end, what)
        time.sleep(0.05)
    return got


def start(name, argv):
    with open(f"{WORK}/{name}.log", "w") as out:
        procs[name] = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, env=ENV)


def stop(name):
    proc = procs.pop(name)
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(5)
    except subprocess.TimeoutExpired:
        proc.kill()  # ser2net has been seen to sit out a SIGTERM
        proc.wait()


def run(main):
    """Runs `main`; says PASS, or FAIL with every process's log; ends all it started."""
    try:
        main()
        print("PASS")
    except Exception as e:
        print(f"FAIL: {e}", file=sys.stderr)
        if not isinstance(e, AssertionError):
            traceback.print_exc()
        for path in sorted(pathlib.Path(WORK).glob("*.log")):
            text = path.read_text(errors="replace")
            sys.stderr.writelines(f"  {path.stem}: {line}\n" for line in text.splitlines())
        sys.exit(1)
    finally:
        for name in list(procs):
            stop(name)
        shutil.rmtree(WORK, ignore_errors=True)
