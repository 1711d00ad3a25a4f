"""The Python binding (bindings/python/tarvex) against the built library; each case prints "ok - NAME"
or "FAIL - NAME: why".   python3 python_binding_test.py LIBRARY HEADER [live GAMESIM]"""
import ctypes
import re
import socket
import subprocess
import sys
import time
from ctypes import POINTER, c_bool, c_char_p, c_double, c_float, c_int, c_int64, c_void_p, c_wchar_p

import tarvex

# Declarations with the faults hand-written ctypes code typically has, each with the fault the
# declaration check must name. Never part of the binding.
WRONG = {
    "initWindSerial": (c_int, [c_wchar_p, c_int, c_wchar_p, ctypes.c_uint], "result is i32, tarvex.h has b8"),
    "getGameData": (None, [POINTER(POINTER(c_double)), POINTER(c_int64)], "parameter 2 is i64*, tarvex.h has i32*"),
    "SetRigDofLimitValue": (None, [c_int, c_float, c_double], "parameter 2 is f32, tarvex.h has f64"),
    "getGameName": (None, [c_char_p], "parameter 1 is cstr, tarvex.h has ptr"),
}


def c_kind(text):
    c = re.sub(r"\s+", " ", re.sub(r"\s*\*", "*", text.strip()))
    kinds = {"int": "i32", "unsigned int": "u32", "unsigned short": "u16", "double": "f64", "bool": "b8",
             "void": "void", "int*": "i32*", "const char*": "cstr", "const wchar_t*": "wstr"}
    return kinds.get(c, "ptr*" if c.endswith("**") else "ptr" if c.endswith("*") else "?" + c)


def read_header(path):
    """name -> [result kind, parameter kinds...] for every prototype."""
    protos = {}
    for result, name, params in re.findall(r"^TARVEX_API\s+([^;(]*?)\s*\b(\w+)\s*\(([^)]*)\)\s*;",
                                           open(path).read(), re.M):
        types = [re.sub(r"\b\w+\s*$", "", p) for p in params.split(",")]  # without names ("void": none)
        protos[name] = [c_kind(result)] + [c_kind(t) for t in types if t.strip()]
    return protos


def ctypes_kind(t):
    named = {None: "void", c_bool: "b8", c_char_p: "cstr", c_wchar_p: "wstr", c_void_p: "ptr", c_double: "f64",
             c_float: "f32"}
    if t in named:
        return named[t]
    if issubclass(t, ctypes.Array):
        return "ptr"
    if issubclass(t, ctypes._Pointer):
        inner = ctypes_kind(t._type_)
        return inner + "*" if inner in ("i32", "i64", "u32") else "ptr*" if inner in ("ptr", "cstr") or "*" in inner else "ptr"
    if issubclass(t, ctypes._SimpleCData) and t._type_ in "bhilqBHILQ":
        return ("u" if t._type_.isupper() else "i") + str(8 * ctypes.sizeof(t))
    return "?" + t.__name__


def check_declarations(declarations, header, complete):
    faults = []
    for name, (result, arguments) in declarations.items():
        if name not in header:
            faults.append("%s: tarvex.h has no %s" % (name, name))
            continue
        want, got = header[name], [ctypes_kind(result)] + [ctypes_kind(a) for a in arguments]
        if len(got) != len(want):
            faults.append("%s: %d parameters, tarvex.h has %d" % (name, len(got) - 1, len(want) - 1))
        faults += ["%s: %s is %s, tarvex.h has %s" % (name, "parameter %d" % i if i else "result", g, w)
                   for i, (w, g) in enumerate(zip(want, got)) if len(got) == len(want) and w != g]
    if complete:
        faults += ["%s: not declared" % name for name in header if name not in declarations]
    return faults


def wait_until(condition, seconds):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            return False
        time.sleep(0.002)
    return True


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def main(library_path, header_path, live=None, gamesim=None):
    results = []
    header = read_header(header_path)
    tv = tarvex.load(library_path)  # resolves every declared export

    def case(name):
        def run(body):
            try:
                body()
                results.append(True)
                print("ok - " + name)
            except Exception as error:  # a failed case names what went wrong
                results.append(False)
                print("FAIL - %s: %r" % (name, error))
        return run

    @case("every declaration matches tarvex.h")
    def _():
        faults = check_declarations(tarvex.DECLARATIONS, header, True)
        check(not faults, "; ".join(faults))

    @case("each wrong width is caught")
    def _():
        faults = check_declarations({name: d[:2] for name, d in WRONG.items()}, header, False)
        check(sorted(faults) == sorted("%s: %s" % (name, d[2]) for name, d in WRONG.items()), "found %s" % faults)

    @case("results, bool and text arguments, arrays")
    def _():
        v = [int(n) for n in re.findall(r"define TARVEX_VERSION_\w+ (\d+)", open(header_path).read())]
        check(tv.version == v[0] * 10000 + v[1] * 100 + v[2], "version %d" % tv.version)
        check(tv.fade_percent == 100.0, "fade %s before any hold" % tv.fade_percent)
        tv.set_active_axis(0, 5, False)
        check(tv.fade_percent == 0.0, "fade %s after setActiveAxis" % tv.fade_percent)
        check(tv.install_formula(0, 3, "GAIN(EMALP(VALUE;10);2)"), "valid formula refused")
        check(not tv.install_formula(0, 3, "GAIM(VALUE;2)"), "unknown keyword taken")
        # The wind fan's port as wide text: TARVEX_COM_MAP (set by the test) names COM57 and no COM58.
        check(tv.init_wind_serial("COM57") is True and tv.init_wind_serial("COM58") is False, "COM57/COM58")
        # Arrays: channel names, channels, cues; no snapshots without a game.
        names = tv.channel_names
        check(len(names) == 41 and tv.channel_number("lateral_speed") == 1 and tv.channel_number("x") == -1,
              ",".join(names))
        check(len(tv.channels()) == 43 and len(tv.motion_cues("held")) == 23, "array lengths")
        check(tv.drain_calculation() == [] and tv.drain_acceleration() == [], "records")

    @case("the link loop ends with close")
    def _():
        with tv.link() as link:
            check(wait_until(lambda: tv.send(b"\x01\x02\x0a\x0d"), 10) and link.result() is None, "not queued")
        check(link.result() == 1 and not tv.send(b"\x01\x02\x0a\x0d"), "the loop still runs after close")

    if live == "live":
        case("live under the simulated X-Plane")(lambda: fly(tv, gamesim))
    print("%d passed, %d failed" % (results.count(True), results.count(False)))
    return 0 if all(results) else 1


def game_ports_lock():
    """The test programs' lock on the games' ports and process names."""
    for _ in range(6000):
        try:
            return socket.create_server(("127.0.0.1", 47391))
        except OSError:
            time.sleep(0.05)
    raise AssertionError("the games' ports stayed locked")


def fly(tv, gamesim):
    """The binding's doubles, text and arrays with a game; python3 -m tarvex status shows it and the cycle."""
    tv.set_rig_dof_limit(0, -0.5, 0.5)
    tv.set_rig_dof_limit(1, -0.25, 0.25)
    for slot in range(6):  # axes 0, 1, 2 of both profiles: 3, -3, 1
        tv.set_active_axis(slot // 3, slot % 3, True)
        check(tv.install_formula(slot // 3, slot % 3, "SETVALUE(VALUE;%d)" % (3, -3, 1)[slot % 3]), "SETVALUE")
    lock = game_ports_lock()
    sim = subprocess.Popen([gamesim, "xplane", "--process-name", "X-Plane.exe", "--rate", "250",
                            "--flight-seconds", "3", "--seconds", "60", "--quiet"])
    try:
        # The command line first: the library keeps the game's port once it found the game.
        status = subprocess.run([sys.executable, "-m", "tarvex", "--library", tv.native._name, "status", "--ready",
                                 "--channels", "--seconds", "5"], stdout=subprocess.PIPE, text=True, timeout=60)
        line = status.stdout.split("\r")[-1]
        check(status.returncode == 0 and re.search(r"game +0 Xplane +\| cycle +(?!0\.000)\d+\.\d{3} ms .* "
                                                   r"pitch +-?\d+\.\d\d .* \| (air|ground)", line), repr(line))
        with tv.game_source():
            tv.set_motion_system_ready(True)
            check(wait_until(lambda: tv.game_id == 0, 30) and tv.game_name == "Xplane", tv.game_name)
            dofs = lambda: tv.frame_dofs(tv.output_frame())
            check(wait_until(lambda: dofs()[:2] == (0.5, -0.25), 10), "frame %s" % (dofs(),))
            check(wait_until(lambda: tv.channel("pitch_position") > 5, 8), "pitch %s" % tv.channel("pitch_position"))
            # Every axis fades in by the same factor from zero: the rows keep 3 : -3 : 1.
            calc, accel = tv.drain_calculation(), tv.drain_acceleration()
            check(all(len(r) == 23 and abs(r[1] + r[0]) < 1e-9 and abs(r[0] - 3 * r[2]) < 1e-9 for r in calc)
                  and any(r[0] > 0.1 for r in calc), "calculation rows %s" % calc[:1])
            check(all(len(r) == 43 and r[0] == 0.0 for r in accel) and any(any(r) for r in accel), "acceleration")
        before = tv.channel("roll_position")
        time.sleep(0.05)
        check(tv.channel("roll_position") == before, "the cycle runs on after close")
    finally:
        sim.kill()
        sim.wait()
        lock.close()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
