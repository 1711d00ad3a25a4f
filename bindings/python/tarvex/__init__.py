"""tarvex for Python hosts: every export of tarvex.dll (Windows) and
libtarvex.so (Linux) declared for ctypes, and a small safe layer over them.

    import tarvex
    tv = tarvex.load()                  # or tarvex.load("/path/to/libtarvex.so")
    with tv.game_source():              # the game-source thread, stopped on leaving
        tv.set_motion_system_ready(True)
        print(tv.game_name, tv.channel("speed"))

No build step: put the folder that holds this package on PYTHONPATH.
load() takes the library's path, else $TARVEX_LIBRARY, else the system's
search (tarvex.dll in the package's ../../bin or on the DLL path; libtarvex.so
on the library path). Marshalling as tarvex/tarvex.h states it: int is 32
bits, bool one byte (c_bool), wchar_t as the platform has it (c_wchar_p).
"""
import ctypes
import ctypes.util
import os
import struct
import sys
import threading
from ctypes import POINTER, c_bool, c_char, c_char_p, c_double, c_int, c_ubyte, c_uint, c_ushort, c_void_p, c_wchar_p

__all__ = ["DECLARATIONS", "Tarvex", "load", "declare", "CHANNEL_COUNT", "AXIS_COUNT", "CUE_SETS"]

CHANNEL_COUNT = 43
AXIS_COUNT = 23
OUTPUT_FRAME_BYTES = 36
CUE_SETS = {"air": 0, "ground": 1, "final": 2, "held": 3}

_p_double = POINTER(c_double)

# Every export: name -> (result, [arguments]), in the header's order.
DECLARATIONS = {
    "getTarvexVersion": (c_int, []),
    "startGamesource_Thread": (None, []),
    "stopGamesource_Thread": (None, []),
    "getGameID": (c_int, []),
    "getGameName": (None, [POINTER(c_char)]),  # at least 21 bytes
    "setMotionsystemready": (None, [c_int]),
    "setTimerPrecision": (None, [c_int]),
    "getMotionDataTimeFrame": (c_double, []),
    "getGameTimeFrame": (c_double, []),
    "setcheckFilterstring": (c_int, [c_int, c_int, c_char_p]),
    "setActiveAxis": (None, [c_int, c_int, c_bool]),
    "setBelt_Mix": (None, [c_int, c_int, c_double]),
    "SetRigDofLimitValue": (None, [c_int, c_double, c_double]),
    "SetInputDofLimitValue": (None, [c_int, c_double, c_double]),
    "activateMotionCancel": (None, [c_bool]),
    "setFilterMotionCancel": (None, [c_double]),
    "setGainMotionCancel": (None, [c_double]),
    "getactiveProfil": (c_int, []),
    "getTransitionStatus": (c_double, []),
    "getProfilAirTransitionStatus": (c_double, []),
    "getProfilGrdTransitionStatus": (c_double, []),
    "getOutputData": (None, [POINTER(c_ubyte)]),  # 36 bytes
    "getGameDataCount": (c_int, []),
    "getGameData": (None, [POINTER(_p_double), POINTER(c_int)]),
    "getGameDataNames": (None, [POINTER(c_void_p), POINTER(c_int)]),
    "getMotionCueData": (None, [c_int, POINTER(_p_double), POINTER(c_int)]),
    "GetCalculationSnapshots": (_p_double, [POINTER(c_int)]),
    "GetAccelerationSnapshots": (_p_double, [POINTER(c_int)]),
    "FreeCalculationSnapshots": (None, [c_void_p]),
    "FreeAccelerationSnapshots": (None, [c_void_p]),
    "GetPositionSnapshot": (_p_double, []),
    "startTarvex_Thread": (c_int, []),
    "stopTarvex_Thread": (None, []),
    "sendMessagemmf": (c_int, [POINTER(c_ubyte), c_int]),
    "readMessagemmf": (c_uint, [POINTER(c_ubyte)]),  # 4096 bytes
    "newMessagemmf": (c_int, []),
    "autoMessagemmf": (c_int, [POINTER(c_ubyte)]),
    "isConnected": (c_int, []),
    "isInterfaceRunning": (c_int, []),
    "pauseInterface": (c_int, []),
    "resumeInterface": (c_int, []),
    "enableAutoconnect": (c_int, []),
    "disableAutoconnect": (c_int, []),
    "setStandartPort": (c_int, [c_char_p]),
    "getOutputTimeFrame": (c_double, []),
    "startUPDListenThread": (None, []),
    "startUPDMulticastSenderThread": (None, []),
    "setUDPport": (None, [c_ushort]),
    "setMulticastAddr": (None, [c_char_p]),
    "initWindSerial": (c_bool, [c_wchar_p, c_int, c_wchar_p, c_uint]),
}


def declare(library, declarations=DECLARATIONS):
    """Sets result and argument types on the library's functions; a missing
    export raises AttributeError naming it."""
    for name, (result, arguments) in declarations.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library


def _candidates():
    here = os.path.dirname(os.path.abspath(__file__))
    if sys.platform == "win32":
        # The Windows zip: bindings/python/tarvex/ beside bin/tarvex.dll.
        return [os.path.join(here, "..", "..", "..", "bin", "tarvex.dll"), "tarvex.dll"]
    found = ctypes.util.find_library("tarvex")
    return ["libtarvex.so"] + ([found] if found else [])


def load(path=None):
    """Loads the library and returns a Tarvex over it."""
    path = path or os.environ.get("TARVEX_LIBRARY")
    if path:
        return Tarvex(ctypes.CDLL(path))
    errors = []
    for candidate in _candidates():
        if os.path.isabs(candidate) and not os.path.exists(candidate):
            continue
        try:
            return Tarvex(ctypes.CDLL(candidate))
        except OSError as error:
            errors.append(str(error))
    raise OSError("cannot load the tarvex library (set TARVEX_LIBRARY to its path): " + "; ".join(errors))


def _bytes(message):
    data = bytes(message)
    return (c_ubyte * max(1, len(data))).from_buffer_copy(data or b"\0"), len(data)


class _Thread:
    """A running library thread; close() (or leaving a with block) stops it."""

    def __init__(self, stop, join=None):
        self._stop, self._join, self.running = stop, join, True

    def close(self):
        if self.running:
            self.running = False
            self._stop()
            if self._join is not None:
                self._join()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Tarvex:
    """The library's settings and readings with Python types. `native` holds
    the declared exports, name for name."""

    def __init__(self, library):
        self.native = declare(library)
        self._names = None
        self._live = None

    # --- game-source cycle and game -------------------------------------
    @property
    def version(self):
        """major * 10000 + minor * 100 + patch"""
        return self.native.getTarvexVersion()

    @property
    def game_id(self):
        """0..17, -1 while no game is found."""
        return self.native.getGameID()

    @property
    def game_name(self):
        buffer = ctypes.create_string_buffer(64)
        self.native.getGameName(buffer)
        return buffer.value.decode("ascii", "replace")

    @property
    def active_profile(self):
        """0 air, 1 ground, -1 no game."""
        return self.native.getactiveProfil()

    @property
    def cycle_ms(self):
        return self.native.getMotionDataTimeFrame()

    @property
    def game_frame_ms(self):
        return self.native.getGameTimeFrame()

    @property
    def fade_percent(self):
        """The fade-in after a hold, 0..100."""
        return self.native.getTransitionStatus()

    def game_source(self):
        """Starts the game-source thread; close() or a with block stops it."""
        self.native.startGamesource_Thread()
        return _Thread(self.native.stopGamesource_Thread)

    def set_motion_system_ready(self, ready):
        self.native.setMotionsystemready(1 if ready else 0)

    def set_precise_pacing(self, precise):
        self.native.setTimerPrecision(1 if precise else 0)

    # --- profiles, limits and outputs --------------------------------------
    def install_formula(self, profile, axis, formula):
        """True when the formula was valid and installed."""
        return self.native.setcheckFilterstring(profile, axis, formula.encode("ascii")) == 1

    def set_active_axis(self, profile, axis, on):
        self.native.setActiveAxis(profile, axis, bool(on))

    def set_belt_mix(self, profile, index, weight):
        self.native.setBelt_Mix(profile, index, weight)

    def set_rig_dof_limit(self, dof, minimum, maximum):
        self.native.SetRigDofLimitValue(dof, minimum, maximum)

    def set_input_dof_limit(self, dof, minimum, maximum):
        self.native.SetInputDofLimitValue(dof, minimum, maximum)

    def output_frame(self):
        """The last 36-byte frame sent to the motion controller."""
        frame = (c_ubyte * OUTPUT_FRAME_BYTES)()
        self.native.getOutputData(frame)
        return bytes(frame)

    @staticmethod
    def frame_dofs(frame):
        """The six degrees of freedom of an output frame (little-endian floats)."""
        return struct.unpack_from("<6f", frame, 2)

    def motion_cues(self, which="final"):
        """A copy of one cue array: "air", "ground", "final" or "held"."""
        data, count = _p_double(), c_int(0)
        self.native.getMotionCueData(CUE_SETS[which], ctypes.byref(data), ctypes.byref(count))
        return data[: count.value] if data else []

    def init_wind_serial(self, port, baud=9600, mode="8N1", interval_ms=15):
        """The library's own fan on a serial port ("COM3")."""
        return self.native.initWindSerial(port, baud, mode, interval_ms)

    # --- channels ------------------------------------------------------------
    @property
    def channel_names(self):
        """The names of channels 1..41, in order."""
        if self._names is None:
            at, count = c_void_p(), c_int(0)
            self.native.getGameDataNames(ctypes.byref(at), ctypes.byref(count))
            names, address = [], at.value
            while address:
                name = ctypes.string_at(address)
                if not name:
                    break
                names.append(name.decode("ascii"))
                address += len(name) + 1
            self._names = names
        return self._names

    def channel_number(self, name):
        """Channel c carries name c - 1; -1 for a name the library lacks."""
        names = self.channel_names
        return names.index(name) + 1 if name in names else -1

    def channel(self, name):
        """The live value of a channel, read from the engine's array."""
        number = self.channel_number(name)
        if number < 0:
            raise KeyError("tarvex has no channel named %r" % name)
        if self._live is None:
            data, count = _p_double(), c_int(0)
            self.native.getGameData(ctypes.byref(data), ctypes.byref(count))
            self._live = data
        return self._live[number]

    def channels(self):
        """A copy of all 43 channels."""
        data, count = _p_double(), c_int(0)
        self.native.getGameData(ctypes.byref(data), ctypes.byref(count))
        return data[: count.value] if data else []

    # --- snapshots -------------------------------------------------------------
    def _drain(self, get, free, width):
        count = c_int(0)
        block = get(ctypes.byref(count))
        try:
            if not block:
                return []
            values = block[: count.value * width]
            return [values[k * width:(k + 1) * width] for k in range(count.value)]
        finally:
            free(ctypes.cast(block, c_void_p))  # null is accepted

    def drain_calculation(self):
        """The records since the last drain, oldest first: 23 values (one per axis)."""
        return self._drain(self.native.GetCalculationSnapshots, self.native.FreeCalculationSnapshots, AXIS_COUNT)

    def drain_acceleration(self):
        """The records since the last drain, oldest first: the 43 channels."""
        return self._drain(self.native.GetAccelerationSnapshots, self.native.FreeAccelerationSnapshots,
                           CHANNEL_COUNT)

    def position(self):
        """The last calculation snapshot."""
        return self.native.GetPositionSnapshot()[:AXIS_COUNT]

    # --- device messaging ---------------------------------------------------------
    def link(self):
        """Runs the serial link loop on a thread of its own; close() ends it
        (and the network threads) and waits for the thread. `result` is 0 when
        another loop ran already, 1 once it ended, None while it runs."""
        holder = {"result": None}

        def run():
            holder["result"] = self.native.startTarvex_Thread()

        thread = threading.Thread(target=run, name="tarvex link", daemon=True)
        thread.start()
        handle = _Thread(self.native.stopTarvex_Thread, thread.join)
        handle.result = lambda: holder["result"]
        return handle

    def send(self, message):
        """Queues bytes for the controller; False when no link runs or its queue is full."""
        buffer, length = _bytes(message)
        return self.native.sendMessagemmf(buffer, length) == 1

    def receive(self):
        """The oldest message from the controller, or None."""
        buffer = (c_ubyte * 4096)()
        n = self.native.readMessagemmf(buffer)
        return bytes(buffer[:n]) if n else None

    @property
    def connected(self):
        return self.native.isConnected() == 1
