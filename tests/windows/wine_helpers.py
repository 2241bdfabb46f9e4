"""What the Windows tests' drivers share: paths as Wine sees them, and programs run with their
output read through files (the services Wine starts with a first program keep a pipe open until
they end, seconds later)."""
import os
import subprocess
import tempfile


def win_path(path):
    """A path on this machine as a Windows program under Wine names it: through drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def call(args, env=None):
    """Status, standard output and standard error of a program."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(args, stdout=out, stderr=err, env=env).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


def call_script(wine_run, script, env=None):
    """Status and output of a script run by the script host. Under load, Wine's script host at
    times ends with status 1 before it runs the script's first line, printing nothing (it could
    not make its script engine): such a run is made again, twice at most. A script that ran and
    failed is never run again: every script here prints its first line whatever happens."""
    for _ in range(3):
        code, out, err = call([wine_run, "cscript", "//nologo", win_path(script)], env)
        if code != 1 or out or err:
            break
    return code, out, err
