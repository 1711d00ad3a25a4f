"""The names both bindings import are exactly the C exports of the built
tarvex.dll, read from its real export table (objdump -p). No .NET or Python
runs beside the DLL under Wine; this is what the Windows build checks of the
bindings (their types are checked against tarvex.h natively).
    binding_names.py OBJDUMP DLL SOURCE_DIR"""
import re
import subprocess
import sys

objdump, dll, source = sys.argv[1:4]
table = subprocess.run([objdump, "-p", dll], stdout=subprocess.PIPE, text=True, check=True).stdout
exported = {name for name in re.findall(r"^\s*\[\s*\d+\]\s+(\w+)", table, re.M) if not name.startswith("_Z")}

csharp = set()
text = open(source + "/bindings/csharp/Tarvex.cs", encoding="utf-8").read()
for attributes, method in re.findall(r"\[DllImport\(([^)]*)\)\]\s*(?:\[[^\]]*\]\s*)*public static extern [\w\[\]]+ (\w+)\(", text):
    entry = re.search(r'EntryPoint = "(\w+)"', attributes)
    csharp.add(entry.group(1) if entry else method)

sys.path.insert(0, source + "/bindings/python")
import tarvex  # noqa: E402  (loads no library)

python = set(tarvex.DECLARATIONS)
faults = ["%s: %s" % (what, sorted(names)) for what, names in (
    ("C# imports what tarvex.dll lacks", csharp - exported), ("C# lacks", exported - csharp),
    ("Python imports what tarvex.dll lacks", python - exported), ("Python lacks", exported - python))
    if names]
print("%d exports; C# imports %d names, Python %d" % (len(exported), len(csharp), len(python)))
if faults or len(exported) < 50:
    sys.exit("\n".join(faults) or "too few exports read from " + dll)
