// The C# binding (bindings/csharp/Tarvex.cs) against the built library.
//   mono binding_tests.exe HEADER [live GAMESIM]
// Each case prints "ok - NAME" or "FAIL - NAME: why"; the last line counts
// them. With "live" it also flies the simulated X-Plane (GAMESIM).
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Net;
using System.Net.Sockets;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using System.Threading;
using Tarvex;

// Declarations with the faults a hand-written P/Invoke file typically has.
// Never part of the binding: the declaration check must name every one.
static class WrongNative
{
    const CallingConvention C = CallingConvention.Cdecl;
    // bool without U1 is marshalled as a 4-byte BOOL.
    [DllImport(Native.Dll, CallingConvention = C, EntryPoint = "initWindSerial")]
    public static extern bool initWindSerial([MarshalAs(UnmanagedType.LPWStr)] string port, int baud,
                                             [MarshalAs(UnmanagedType.LPWStr)] string mode, uint intervalMs);
    [DllImport(Native.Dll, CallingConvention = C)]
    public static extern void setActiveAxis(int profile, int axis, bool on);
    // C long is 64 bits on Linux.
    [DllImport(Native.Dll, CallingConvention = C)] public static extern void getGameData(out IntPtr data, out long count);
    [DllImport(Native.Dll, CallingConvention = C)] public static extern void SetRigDofLimitValue(int dof, float min, float max);
    [DllImport(Native.Dll, CallingConvention = C)] public static extern void setUDPport(int port);
    [DllImport(Native.Dll, CallingConvention = C)] public static extern int readMessagemmf(byte[] buffer);
    [DllImport(Native.Dll, CallingConvention = CallingConvention.StdCall)] public static extern int getTarvexVersion();
    [DllImport(Native.Dll, CallingConvention = C)] public static extern void getGameName([MarshalAs(UnmanagedType.LPStr)] string buffer);
}

// Compares P/Invoke declarations with the prototypes of tarvex.h, as
// machine types: width and signedness, one-byte bool, pointer levels, text.
static class Declarations
{
    public static Dictionary<string, string[]> ReadHeader(string path)
    {
        var protos = new Dictionary<string, string[]>();
        var proto = new Regex(@"^TARVEX_API\s+([^;(]*?)\s*\b(\w+)\s*\(([^)]*)\)\s*;", RegexOptions.Multiline);
        foreach (Match m in proto.Matches(File.ReadAllText(path)))
        {
            var kinds = new List<string> { CKind(m.Groups[1].Value) };
            foreach (string p in m.Groups[3].Value.Split(','))
            {
                var tokens = Regex.Matches(p, @"\w+|\*").Cast<Match>().Select(t => t.Value).ToList();
                if (tokens.Count == 0 || (tokens.Count == 1 && tokens[0] == "void")) continue;
                tokens.RemoveAt(tokens.Count - 1);  // the parameter's name
                kinds.Add(CKind(string.Join(" ", tokens)));
            }
            protos[m.Groups[2].Value] = kinds.ToArray();
        }
        return protos;
    }

    static string CKind(string c)
    {
        c = Regex.Replace(c.Trim(), @"\s*\*", "*");
        c = Regex.Replace(c, @"\s+", " ");
        switch (c)
        {
            case "int": return "i32";
            case "unsigned int": return "u32";
            case "unsigned short": return "u16";
            case "double": return "f64";
            case "bool": return "b8";
            case "void": return "void";
            case "int*": return "i32*";
            case "const char*": return "cstr";
            case "const wchar_t*": return "wstr";
        }
        if (c.EndsWith("**")) return "ptr*";
        if (c.EndsWith("*")) return "ptr";
        return "?" + c;
    }

    static string NetKind(Type t, MarshalAsAttribute a, CharSet charSet)
    {
        if (t.IsByRef) return NetKind(t.GetElementType(), null, charSet) + "*";
        if (t == typeof(bool)) return a != null && (a.Value == UnmanagedType.U1 || a.Value == UnmanagedType.I1) ? "b8" : "b32";
        if (t == typeof(string))
        {
            UnmanagedType u = a != null ? a.Value : charSet == CharSet.Unicode ? UnmanagedType.LPWStr : UnmanagedType.LPStr;
            return u == UnmanagedType.LPWStr ? "wstr16" : u == UnmanagedType.LPStr ? "cstr" : "?" + u;
        }
        if (t == typeof(uint[])) return "wstr32";
        if (t == typeof(IntPtr) || t == typeof(UIntPtr) || t.IsArray) return "ptr";
        if (t == typeof(void)) return "void";
        if (t == typeof(double)) return "f64";
        if (t == typeof(float)) return "f32";
        if (t.IsPrimitive) return (t == typeof(sbyte) || t == typeof(short) || t == typeof(int) || t == typeof(long) ? "i" : "u") +
                                  Marshal.SizeOf(t) * 8;
        return "?" + t.Name;
    }

    static bool Same(string header, string net)
    {
        return header == net || (header == "wstr" && (net == "wstr16" || net == "wstr32"));
    }

    // Every mismatch, one line each. With `complete` every prototype must
    // have a declaration too.
    public static List<string> Check(Type declarations, Dictionary<string, string[]> header, bool complete)
    {
        var faults = new List<string>();
        var declared = new HashSet<string>();
        foreach (MethodInfo m in declarations.GetMethods(BindingFlags.Public | BindingFlags.Static))
        {
            var import = (DllImportAttribute)Attribute.GetCustomAttribute(m, typeof(DllImportAttribute));
            if (import == null) continue;
            string name = string.IsNullOrEmpty(import.EntryPoint) ? m.Name : import.EntryPoint;
            declared.Add(name);
            string[] want;
            if (!header.TryGetValue(name, out want)) { faults.Add(m.Name + ": tarvex.h has no " + name); continue; }
            if (import.CallingConvention != CallingConvention.Cdecl)
                faults.Add(m.Name + ": calling convention " + import.CallingConvention + ", the exports are Cdecl");
            var got = new List<string> { NetKind(m.ReturnType, Attr(m.ReturnParameter), import.CharSet) };
            got.AddRange(m.GetParameters().Select(p => NetKind(p.ParameterType, Attr(p), import.CharSet)));
            if (got.Count != want.Length)
            {
                faults.Add(m.Name + ": " + (got.Count - 1) + " parameters, tarvex.h has " + (want.Length - 1));
                continue;
            }
            for (int i = 0; i < got.Count; ++i)
                if (!Same(want[i], got[i]))
                    faults.Add(m.Name + ": " + (i == 0 ? "result" : "parameter " + i) + " is " + got[i] + ", tarvex.h has " + want[i]);
        }
        if (complete)
            foreach (string name in header.Keys)
                if (!declared.Contains(name)) faults.Add(name + ": not declared");
        return faults;
    }

    static MarshalAsAttribute Attr(ParameterInfo p)
    {
        return (MarshalAsAttribute)Attribute.GetCustomAttribute(p, typeof(MarshalAsAttribute));
    }
}

static class Program
{
    static int passed, failed;
    static Dictionary<string, string[]> header;

    static void Check(bool condition, string what)
    {
        if (!condition) throw new Exception(what);
    }

    static void Case(string name, Action run)
    {
        try { run(); ++passed; Console.WriteLine("ok - " + name); }
        catch (Exception e) { ++failed; Console.WriteLine("FAIL - " + name + ": " + e.Message); }
    }

    static bool WaitUntil(Func<bool> condition, double seconds)
    {
        var watch = Stopwatch.StartNew();
        while (!condition())
        {
            if (watch.Elapsed.TotalSeconds > seconds) return false;
            Thread.Sleep(2);
        }
        return true;
    }

    static int Main(string[] args)
    {
        header = Declarations.ReadHeader(args[0]);
        Case("every declaration matches tarvex.h", () =>
        {
            var faults = Declarations.Check(typeof(Native), header, true);
            Check(faults.Count == 0, string.Join("; ", faults));
        });
        Case("each wrong width and convention is caught", () =>
        {
            var faults = Declarations.Check(typeof(WrongNative), header, false);
            string[] expected = {
                "initWindSerial: result is b32, tarvex.h has b8",
                "setActiveAxis: parameter 3 is b32, tarvex.h has b8",
                "getGameData: parameter 2 is i64*, tarvex.h has i32*",
                "SetRigDofLimitValue: parameter 2 is f32, tarvex.h has f64",
                "SetRigDofLimitValue: parameter 3 is f32, tarvex.h has f64",
                "setUDPport: parameter 1 is i32, tarvex.h has u16",
                "readMessagemmf: result is i32, tarvex.h has u32",
                "getTarvexVersion: calling convention StdCall, the exports are Cdecl",
                "getGameName: parameter 1 is cstr, tarvex.h has ptr",
            };
            var missed = expected.Where(e => !faults.Contains(e)).ToList();
            Check(missed.Count == 0 && faults.Count == expected.Length,
                  "missed: " + string.Join("; ", missed) + " | found: " + string.Join("; ", faults));
        });
        Case("every export resolves", () =>
        {
            foreach (MethodInfo m in typeof(Native).GetMethods(BindingFlags.Public | BindingFlags.Static))
                if (Attribute.IsDefined(m, typeof(DllImportAttribute))) Marshal.Prelink(m);
            var v = Regex.Matches(File.ReadAllText(args[0]), @"define TARVEX_VERSION_\w+ (\d+)").Cast<Match>()
                         .Select(x => int.Parse(x.Groups[1].Value)).ToArray();
            Check(Library.Version == v[0] * 10000 + v[1] * 100 + v[2], "version " + Library.Version);
        });
        Case("a hold shows in the fade", () =>
        {
            Check(Library.FadePercent == 100.0, "fade " + Library.FadePercent + " before any hold");
            Library.SetActiveAxis(0, 5, false);
            Check(Library.FadePercent == 0.0, "fade " + Library.FadePercent + " after setActiveAxis");
        });
        Case("a formula installed and refused", () =>
        {
            Check(Library.InstallFormula(0, 3, "GAIN(EMALP(VALUE;10);2)"), "valid formula refused");
            Check(!Library.InstallFormula(0, 3, "GAIN(EMALP(VALUE;0.5);2)"), "EMALP(VALUE;0.5) taken");
            Check(!Library.InstallFormula(0, 3, "GAIM(VALUE;2)"), "unknown keyword taken");
            Check(Native.setStandartPort("\\\\.\\COM12") == 1 && Native.setStandartPort("com5") == 0, "setStandartPort");
        });
        Case("the wind fan's port as wide text", () =>
        {
            // TARVEX_COM_MAP (set by the test) names COM57 and no COM58.
            Check(Library.InitWindSerial("COM57", 9600, "8N1", 15), "COM57 not found");
            Check(!Library.InitWindSerial("COM58", 9600, "8N1", 15), "COM58 found");
            bool other = Native.WideCharIsUtf16 ? Native.initWindSerial_Utf32(Native.Utf32("COM57"), 9600, Native.Utf32("8N1"), 15)
                                                : Native.initWindSerial_Utf16("COM57", 9600, "8N1", 15);
            Check(!other, "the other wchar_t width found the port too");
        });
        Case("channel names read", () =>
        {
            string[] names = Channels.Names;
            IntPtr p;
            int count;
            Native.getGameDataNames(out p, out count);
            Check(names.Length == 41 && count == 43 && Native.getGameDataCount() == 44, names.Length + " names, count " + count);
            Check(names[0] == "lateral_speed" && Channels.Number("pitch_position") > 1 && Channels.Number("nothing") == -1,
                  "names " + string.Join(",", names));
            Check(Channels.All().Length == 43 && Library.MotionCues(CueSet.Held).Length == 23, "array lengths");
        });
        Case("snapshots without a game are empty", () =>
        {
            Check(Snapshots.DrainCalculation().Length == 0 && Snapshots.DrainAcceleration().Length == 0, "records");
        });
        Case("the link loop ends with Dispose", () =>
        {
            byte[] m = { 0x01, 0x02, 0x0A, 0x0D };
            Link link;
            using (link = Link.Start())
            {
                Check(WaitUntil(() => link.Send(m), 10), "nothing queued while the loop runs");
                Check(Native.startTarvex_Thread() == 0, "a second loop started");
                Check(link.Result == -1, "the loop ended early");
            }
            Check(link.Result == 1 && !link.Send(m), "the loop still runs after Dispose");
        });
        if (args.Length >= 3 && args[1] == "live") Case("live channels under the simulated X-Plane", () => Live(args[2]));
        Console.WriteLine(passed + " passed, " + failed + " failed");
        return failed == 0 ? 0 : 1;
    }

    // One simulated flight: the settings reach the output frame, the channels
    // move by name, the snapshot histories drain.
    static void Live(string gamesim)
    {
        for (int dof = 0; dof < 8; ++dof) Library.SetInputDofLimit(dof, -1000, 1000);
        Library.SetRigDofLimit(0, -0.5, 0.5);
        Library.SetRigDofLimit(1, -0.25, 0.25);
        // Before any frame: the fade starts from zero on every axis alike.
        Check(!Library.InstallFormula(0, 0, "GAIN(EMALP(VALUE;0.5);2)"), "a refused formula");
        double[] level = { 3, -3, 1 };
        for (int profile = 0; profile < 2; ++profile)
            for (int axis = 0; axis < 3; ++axis)
            {
                Library.SetActiveAxis(profile, axis, true);
                Check(Library.InstallFormula(profile, axis, "SETVALUE(VALUE;" + level[axis] + ")"), "SETVALUE refused");
            }

        // The test programs' lock on the games' ports and process names.
        TcpListener gamePorts = new TcpListener(IPAddress.Loopback, 47391);
        Check(WaitUntil(() => { try { gamePorts.Start(); return true; } catch (SocketException) { return false; } }, 300), "lock");
        var sim = Process.Start(new ProcessStartInfo(gamesim,
            "xplane --process-name X-Plane.exe --rate 250 --flight-seconds 3 --seconds 60 --quiet") { UseShellExecute = false });
        try
        {
            using (GameSource.Start())
            {
                Library.SetMotionSystemReady(true);
                Check(WaitUntil(() => Library.GameId == 0, 30), "no game found");
                Check(Library.GameName == "Xplane", "game " + Library.GameName);
                Check(WaitUntil(() => { var f = Library.OutputFrame(); return Library.FrameDof(f, 0) == 0.5f && Library.FrameDof(f, 1) == -0.25f; }, 10),
                      "the frame never reached the rig limits: " + BitConverter.ToString(Library.OutputFrame()));
                // The same limit through a declaration with floats for doubles does not arrive.
                WrongNative.SetRigDofLimitValue(0, -0.4f, 0.4f);
                Check(!WaitUntil(() => Library.FrameDof(Library.OutputFrame(), 0) == 0.4f, 1), "floats passed as doubles");
                Library.SetRigDofLimit(0, -0.4, 0.4);
                Check(WaitUntil(() => Library.FrameDof(Library.OutputFrame(), 0) == 0.4f, 2), "new limit not taken");

                double minPitch = 1e9, maxPitch = -1e9, maxRoll = -1e9;
                bool air = false, ground = false;
                WaitUntil(() =>
                {
                    minPitch = Math.Min(minPitch, Channels.Get("pitch_position"));
                    maxPitch = Math.Max(maxPitch, Channels.Get("pitch_position"));
                    maxRoll = Math.Max(maxRoll, Channels.Get("roll_position"));
                    air |= Library.ActiveProfile == 0;
                    ground |= Library.ActiveProfile == 1;
                    return maxPitch > 5 && minPitch < -2 && maxRoll > 20 && air && ground;
                }, 8);
                Check(maxPitch > 5 && minPitch < -2 && maxRoll > 20 && air && ground,
                      "pitch " + minPitch + ".." + maxPitch + ", roll up to " + maxRoll + ", air " + air + ", ground " + ground);

                // Drained, the history fills again up to the 150 cycles it keeps.
                double[][] calc = Snapshots.DrainCalculation();
                for (int i = 0; i < 20 && calc.Length < 150; ++i)
                {
                    Thread.Sleep(500);
                    calc = Snapshots.DrainCalculation();
                }
                double[][] accel = Snapshots.DrainAcceleration();
                double[][] again = Snapshots.DrainCalculation();
                Check(calc.Length == 150 && accel.Length == 150 && again.Length < 150,
                      calc.Length + ", " + accel.Length + " then " + again.Length + " records");
                // Every axis fades in by the same factor from zero: the rows keep 3 : -3 : 1.
                Check(calc.All(r => r.Length == 23 && Math.Abs(r[1] + r[0]) < 1e-9 && Math.Abs(r[0] - 3 * r[2]) < 1e-9) &&
                      calc.Any(r => r[0] > 0.1), "calculation rows " + string.Join(",", calc[0]));
                Check(accel.All(r => r.Length == 43 && r[0] == 0.0) && accel.Any(r => r.Any(v => v != 0.0)),
                      "acceleration rows " + string.Join(",", accel[0]));
            }
            double before = Channels.Get("roll_position");
            Thread.Sleep(50);
            Check(Channels.Get("roll_position") == before, "the cycle runs on after Dispose");
        }
        finally
        {
            if (!sim.HasExited) sim.Kill();
            sim.WaitForExit();
            gamePorts.Stop();
        }
    }
}
