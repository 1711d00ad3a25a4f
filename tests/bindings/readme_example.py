"""The README's first ```csharp (or ```python) block under "## Using tarvex from C#" (or Python), run as
written, must exit with 0 and print the version.   readme_example.py README LANGUAGE SOURCE_DIR LIBDIR WORK"""
import os
import re
import socket
import subprocess
import sys
import time

readme, language, source, libdir, work = sys.argv[1:6]
heading = {"csharp": "## Using tarvex from C#", "python": "## Using tarvex from Python"}[language]
text = open(readme, encoding="utf-8").read()
section = text.split(heading, 1)[1].split("\n## ", 1)[0] if heading in text else ""
block = re.search(r"```%s\n(.*?)```" % language, section, re.S)
if block is None:
    sys.exit("README.md: no ```%s block under '%s'" % (language, heading))
os.makedirs(work, exist_ok=True)
program = os.path.join(work, "Hello.cs" if language == "csharp" else "hello.py")
open(program, "w", encoding="utf-8").write(block.group(1))
command = [sys.executable, program]
if language == "csharp":
    command = ["mono", os.path.join(work, "Hello.exe")]
    subprocess.run(["mcs", "-nologo", "-warnaserror+", "-out:" + command[1], program,
                    os.path.join(source, "bindings", "csharp", "Tarvex.cs")], check=True)
for _ in range(6000):  # the test programs' lock on the games' ports and process names
    try:
        lock = socket.create_server(("127.0.0.1", 47391))
        break
    except OSError:
        time.sleep(0.05)
env = dict(os.environ, LD_LIBRARY_PATH=libdir, PYTHONPATH=os.path.join(source, "bindings", "python"))
run = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=60)
print(run.stdout)
if run.returncode != 0 or not re.match(r"tarvex \d+", run.stdout):
    sys.exit("the %s example ended with exit code %d" % (language, run.returncode))
