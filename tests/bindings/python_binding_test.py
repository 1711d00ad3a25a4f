"""The Python binding (bindings/python/tarvex) against the built library.
    python3 python_binding_test.py LIBRARY HEADER [live GAMESIM]
Each case prints "ok - NAME" or "FAIL - NAME: why"; the last line counts
them. With "live" it also flies the simulated X-Plane (GAMESIM)."""
import ctypes
import re
import socket
import subprocess
import sys
import time
import traceback
from ctypes import POINTER, c_bool, c_char_p, c_double, c_float, c_int, c_int64, c_ubyte, c_void_p, c_wchar_p

import tarvex

# Declarations with the faults hand-written ctypes code typically has. Never
# part of the binding: the declaration check must name every one.
WRONG = {
    "initWindSerial": (c_int, [c_wchar_p, c_int, c_wchar_p, ctypes.c_uint]),  # bool read as 4 bytes
    "setActiveAxis": (None, [c_int, c_int, c_int]),
    "getGameData": (None, [POINTER(POINTER(c_double)), POINTER(c_int64)]),
    "SetRigDofLimitValue": (None, [c_int, c_float, c_float]),
    "setUDPport": (None, [c_int]),
    "readMessagemmf": (c_int, [POINTER(c_ubyte)]),
    "getGameName": (None, [c_char_p]),
    "getTarvexVersion": (ctypes.c_long, []),  # 64 bits on Linux
}
WRONG_FAULTS = {
    "initWindSerial: result is i32, tarvex.h has b8",
    "setActiveAxis: parameter 3 is i32, tarvex.h has b8",
    "getGameData: parameter 2 is i64*, tarvex.h has i32*",
    "SetRigDofLimitValue: parameter 2 is f32, tarvex.h has f64",
    "SetRigDofLimitValue: parameter 3 is f32, tarvex.h has f64",
    "setUDPport: parameter 1 is i32, tarvex.h has u16",
    "readMessagemmf: result is i32, tarvex.h has u32",
    "getGameName: parameter 1 is cstr, tarvex.h has ptr",
}
if ctypes.sizeof(ctypes.c_long) == 8:
    WRONG_FAULTS.add("getTarvexVersion: result is i64, tarvex.h has i32")


def c_kind(text):
    c = re.sub(r"\s+", " ", re.sub(r"\s*\*", "*", text.strip()))
    kinds = {"int": "i32", "unsigned int": "u32", "unsigned short": "u16", "double": "f64", "bool": "b8",
             "void": "void", "int*": "i32*", "const char*": "cstr", "const wchar_t*": "wstr"}
    if c in kinds:
        return kinds[c]
    return "ptr*" if c.endswith("**") else "ptr" if c.endswith("*") else "?" + c


def read_header(path):
    """name -> [result kind, parameter kinds...] for every prototype."""
    protos = {}
    for result, name, params in re.findall(r"^TARVEX_API\s+([^;(]*?)\s*\b(\w+)\s*\(([^)]*)\)\s*;",
                                           open(path).read(), re.M):
        kinds = [c_kind(result)]
        for p in params.split(","):
            tokens = re.findall(r"\w+|\*", p)
            if tokens and tokens != ["void"]:
                kinds.append(c_kind(" ".join(tokens[:-1])))
        protos[name] = kinds
    return protos


def ctypes_kind(t):
    if t is None:
        return "void"
    if t is c_bool:
        return "b8"
    if t is c_char_p:
        return "cstr"
    if t is c_wchar_p:
        return "wstr"
    if t is c_void_p or issubclass(t, ctypes.Array):
        return "ptr"
    if t in (c_double, c_float):
        return "f%d" % (8 * ctypes.sizeof(t))
    if hasattr(t, "_type_") and issubclass(t, ctypes._Pointer):
        inner = ctypes_kind(t._type_)
        return inner + "*" if inner in ("i32", "i64", "u32") else "ptr*" if inner in ("ptr", "cstr") or inner.endswith("*") else "ptr"
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
            continue
        for i, (w, g) in enumerate(zip(want, got)):
            if w != g:
                faults.append("%s: %s is %s, tarvex.h has %s" % (name, "result" if i == 0 else "parameter %d" % i, g, w))
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
    tv = tarvex.load(library_path)

    def case(name):
        def run(body):
            try:
                body()
                results.append(True)
                print("ok - " + name)
            except Exception as error:  # a failed case names what went wrong
                results.append(False)
                print("FAIL - %s: %s" % (name, error))
                traceback.print_exc(limit=2, file=sys.stdout)
        return run

    @case("every declaration matches tarvex.h")
    def _():
        faults = check_declarations(tarvex.DECLARATIONS, header, True)
        check(not faults, "; ".join(faults))

    @case("each wrong width is caught")
    def _():
        faults = set(check_declarations(WRONG, header, False))
        check(faults == WRONG_FAULTS, "missed %s, found also %s" % (WRONG_FAULTS - faults, faults - WRONG_FAULTS))

    @case("every export resolves")
    def _():
        for name in header:
            getattr(tv.native, name)
        text = open(header_path).read()
        v = [int(re.search(r"define TARVEX_VERSION_%s (\d+)" % part, text).group(1)) for part in ("MAJOR", "MINOR", "PATCH")]
        check(tv.version == v[0] * 10000 + v[1] * 100 + v[2], "version %d" % tv.version)

    @case("a hold shows in the fade")
    def _():
        check(tv.fade_percent == 100.0, "fade %s before any hold" % tv.fade_percent)
        tv.set_active_axis(0, 5, False)
        check(tv.fade_percent == 0.0, "fade %s after setActiveAxis" % tv.fade_percent)

    @case("a formula installed and refused")
    def _():
        check(tv.install_formula(0, 3, "GAIN(EMALP(VALUE;10);2)"), "valid formula refused")
        check(not tv.install_formula(0, 3, "GAIN(EMALP(VALUE;0.5);2)"), "EMALP(VALUE;0.5) taken")
        check(not tv.install_formula(0, 3, "GAIM(VALUE;2)"), "unknown keyword taken")
        check(tv.native.setStandartPort(b"\\\\.\\COM12") == 1 and tv.native.setStandartPort(b"com5") == 0, "setStandartPort")

    @case("the wind fan's port as wide text")
    def _():
        # TARVEX_COM_MAP (set by the test) names COM57 and no COM58.
        check(tv.init_wind_serial("COM57") is True, "COM57 not found")
        check(tv.init_wind_serial("COM58") is False, "COM58 found")

    @case("channel names read")
    def _():
        names = tv.channel_names
        at, count = c_void_p(), c_int(0)
        tv.native.getGameDataNames(ctypes.byref(at), ctypes.byref(count))
        check(len(names) == 41 and count.value == 43 and tv.native.getGameDataCount() == 44, "%d names" % len(names))
        check(names[0] == "lateral_speed" and tv.channel_number("pitch_position") > 1 and tv.channel_number("x") == -1,
              ",".join(names))
        check(len(tv.channels()) == 43 and len(tv.motion_cues("held")) == 23, "array lengths")
        sentinel, n = POINTER(c_double)(), c_int(-7)
        tv.native.getMotionCueData(4, ctypes.byref(sentinel), ctypes.byref(n))
        check(n.value == -7 and not sentinel, "getMotionCueData(4) wrote its outputs")

    @case("python3 -m tarvex refuses bad options")
    def _():
        for args in (["status", "--seconds", "-1"], ["status", "--bogus"], ["flyaway"]):
            run = subprocess.run([sys.executable, "-m", "tarvex"] + args, stderr=subprocess.PIPE, text=True)
            check(run.returncode == 2 and "error:" in run.stderr, "%s: exit %d %s" % (args, run.returncode, run.stderr))

    @case("snapshots without a game are empty")
    def _():
        check(tv.drain_calculation() == [] and tv.drain_acceleration() == [], "records")

    @case("the link loop ends with close")
    def _():
        with tv.link() as link:
            check(wait_until(lambda: tv.send(b"\x01\x02\x0a\x0d"), 10), "nothing queued while the loop runs")
            check(tv.native.startTarvex_Thread() == 0, "a second loop started")
            check(link.result() is None, "the loop ended early")
        check(link.result() == 1 and not tv.send(b"\x01\x02\x0a\x0d"), "the loop still runs after close")

    if live == "live":
        case("live channels under the simulated X-Plane")(lambda: fly(tv, gamesim))
    print("%d passed, %d failed" % (results.count(True), results.count(False)))
    return 0 if all(results) else 1


def fly(tv, gamesim):
    """One simulated flight: the settings reach the output frame, the channels
    move by name, the snapshot histories drain."""
    for dof in range(8):
        tv.set_input_dof_limit(dof, -1000, 1000)
    tv.set_rig_dof_limit(0, -0.5, 0.5)
    tv.set_rig_dof_limit(1, -0.25, 0.25)
    # Before any frame: the fade starts from zero on every axis alike.
    check(not tv.install_formula(0, 0, "GAIN(EMALP(VALUE;0.5);2)"), "a refused formula")
    for profile in (0, 1):
        for axis, level in enumerate((3, -3, 1)):
            tv.set_active_axis(profile, axis, True)
            check(tv.install_formula(profile, axis, "SETVALUE(VALUE;%d)" % level), "SETVALUE refused")

    # The test programs' lock on the games' ports and process names.
    lock = socket.socket()
    check(wait_until(lambda: _bind(lock), 300), "lock")
    sim = subprocess.Popen([gamesim, "xplane", "--process-name", "X-Plane.exe", "--rate", "250", "--flight-seconds", "3",
                            "--seconds", "60", "--quiet"])
    try:
        # The command line shows the game and its channels (first: the
        # library keeps the game's port once it found the game).
        status = subprocess.run([sys.executable, "-m", "tarvex", "--library", tv.native._name, "status", "--ready",
                                 "--channels", "--seconds", "5"], stdout=subprocess.PIPE, text=True, timeout=60)
        line = status.stdout.split("\r")[-1]
        check(status.returncode == 0 and re.search(r"game +0 Xplane .* pitch +-?\d+\.\d\d .* \| (air|ground)", line),
              "python3 -m tarvex status: %r" % status.stdout[-400:])
        with tv.game_source():
            tv.set_motion_system_ready(True)
            check(wait_until(lambda: tv.game_id == 0, 30), "no game found")
            check(tv.game_name == "Xplane", tv.game_name)
            dofs = lambda: tv.frame_dofs(tv.output_frame())
            check(wait_until(lambda: dofs()[:2] == (0.5, -0.25), 10), "the frame never reached the rig limits: %s" % (dofs(),))
            # The same limit through a declaration with floats for doubles does not arrive.
            wrong = ctypes.CDLL(tv.native._name).SetRigDofLimitValue
            wrong.argtypes, wrong.restype = [c_int, c_float, c_float], None
            wrong(0, -0.375, 0.375)
            check(not wait_until(lambda: dofs()[0] == 0.375, 1), "floats passed as doubles")
            tv.set_rig_dof_limit(0, -0.375, 0.375)
            check(wait_until(lambda: dofs()[0] == 0.375, 2), "new limit not taken")

            seen = {"min_pitch": 1e9, "max_pitch": -1e9, "max_roll": -1e9, "profiles": set()}

            def flown():
                pitch = tv.channel("pitch_position")
                seen["min_pitch"] = min(seen["min_pitch"], pitch)
                seen["max_pitch"] = max(seen["max_pitch"], pitch)
                seen["max_roll"] = max(seen["max_roll"], tv.channel("roll_position"))
                seen["profiles"].add(tv.active_profile)
                return seen["max_pitch"] > 5 and seen["min_pitch"] < -2 and seen["max_roll"] > 20 and {0, 1} <= seen["profiles"]

            check(wait_until(flown, 8), str(seen))

            # The history keeps the last 150 cycles; a drain empties it.
            calc = tv.drain_calculation()
            for _ in range(20):
                if len(calc) == 150:
                    break
                time.sleep(0.5)
                calc = tv.drain_calculation()
            accel, again = tv.drain_acceleration(), tv.drain_calculation()
            check(len(calc) == 150 and len(accel) == 150 and len(again) < 150, "%d, %d then %d records" % (len(calc), len(accel), len(again)))
            # Every axis fades in by the same factor from zero: the rows keep 3 : -3 : 1.
            check(all(len(r) == 23 and abs(r[1] + r[0]) < 1e-9 and abs(r[0] - 3 * r[2]) < 1e-9 for r in calc)
                  and any(r[0] > 0.1 for r in calc), "calculation rows %s" % calc[0])
            check(all(len(r) == 43 and r[0] == 0.0 for r in accel) and any(any(r) for r in accel), "acceleration rows %s" % accel[0])
        before = tv.channel("roll_position")
        time.sleep(0.05)
        check(tv.channel("roll_position") == before, "the cycle runs on after close")
    finally:
        sim.kill()
        sim.wait()
        lock.close()


def _bind(lock):
    try:
        lock.bind(("127.0.0.1", 47391))
        lock.listen(1)
        return True
    except OSError:
        return False


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
