"""python3 -m tarvex status: the live game and channels, as tarvexctl status
shows them, one line rewritten ten times per second until Ctrl-C (or
--seconds)."""
import argparse
import sys
import time

import tarvex

# The channels --channels shows, by their names, with their short labels.
SHOWN = [("speed", "speed"), ("pitch_position", "pitch"), ("roll_position", "roll"), ("yaw_position", "yaw"),
         ("lateral_accel_g", "lat g"), ("longitu_accel_g", "lon g"), ("vertica_accel_g", "vert g")]


def seconds(text):
    value = float(text)
    if not 0 <= value < 1e9:
        raise argparse.ArgumentTypeError("a number of seconds from 0 (until Ctrl-C) up, not %r" % text)
    return value


def status(tv, options):
    shown = [(label, name) for name, label in SHOWN if tv.channel_number(name) > 0] if options.channels else []
    start = time.monotonic()
    with tv.game_source():
        if options.coarse:
            tv.set_precise_pacing(False)
        if options.ready:
            tv.set_motion_system_ready(True)
        try:
            while True:
                game = tv.game_id
                state = "searching" if game < 0 else "active" if options.ready else "idle (motion system not ready)"
                line = "game %2d %-22s | cycle %6.3f ms | frame %7.3f ms | %-32s" % (
                    game, tv.game_name, tv.cycle_ms if game >= 0 else 0.0, tv.game_frame_ms, state)
                if shown:
                    line += "".join(" %s %7.2f" % (label, tv.channel(name)) for label, name in shown)
                    profile = tv.active_profile
                    line += " | %-6s" % ("ground" if profile == 1 else "air" if profile == 0 else "-")
                sys.stdout.write("\r" + line)
                sys.stdout.flush()
                if options.seconds and time.monotonic() - start >= options.seconds:
                    break
                time.sleep(0.1)
        except KeyboardInterrupt:
            pass
        sys.stdout.write("\n")
    print("game-source thread stopped")
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tarvex", description="Drive the tarvex library from Python.")
    parser.add_argument("--library", metavar="FILE", help="the tarvex library to load (default: $TARVEX_LIBRARY, "
                                                          "else the system's search)")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    command = commands.add_parser("status", help="run the game-source cycle, show the game and channels live")
    command.add_argument("--seconds", type=seconds, default=0.0, metavar="N", help="end after N seconds (0: Ctrl-C)")
    command.add_argument("--ready", action="store_true", help="the motion system is ready: process frames")
    command.add_argument("--coarse", action="store_true", help="coarse 2 ms pacing (sleeps only)")
    command.add_argument("--channels", action="store_true", help="add a few live channels and the active profile")
    options = parser.parse_args(argv)
    if options.command is None:
        options = parser.parse_args(["status"] if options.library is None else ["--library", options.library, "status"])
    try:
        tv = tarvex.load(options.library)
    except OSError as error:
        print("python3 -m tarvex: %s" % error, file=sys.stderr)
        return 1
    version = tv.version
    print("tarvex %d.%d.%d loaded" % (version // 10000, version // 100 % 100, version % 100))
    return status(tv, options)


if __name__ == "__main__":
    sys.exit(main())
