// The C# binding (bindings/csharp/Tarvex.cs) against the built library; each case prints
// "ok - NAME" or "FAIL - NAME: why".   mono binding_tests.exe HEADER [live GAMESIM]
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

// Faults a hand-written P/Invoke file typically has, which the declaration check must name every one of.
static class WrongNative
{
    const CallingConvention C = CallingConvention.Cdecl;
    // bool without U1 is marshalled as a 4-byte BOOL; C long is 64 bits on Linux.
    [DllImport(Native.Dll, CallingConvention = C)] public static extern void setActiveAxis(int profile, int axis, bool on);
    [DllImport(Native.Dll, CallingConvention = C)] public static extern void getGameData(out IntPtr data, out long count);
    [DllImport(Native.Dll, CallingConvention = C)] public static extern void SetRigDofLimitValue(int dof, float min, double max);
    [DllImport(Native.Dll, CallingConvention = CallingConvention.StdCall)] public static extern int getTarvexVersion();
    [DllImport(Native.Dll, CallingConvention = C)]
    public static extern void getGameName([MarshalAs(UnmanagedType.LPStr)] string buffer);
}

// Compares P/Invoke declarations with tarvex.h's prototypes as machine types: width, signedness, bool, pointers.
static class Declarations
{
    public static Dictionary<string, string[]> ReadHeader(string path)
    {
        var protos = new Dictionary<string, string[]>();
        var proto = new Regex(@"^TARVEX_API\s+([^;(]*?)\s*\b(\w+)\s*\(([^)]*)\)\s*;", RegexOptions.Multiline);
        foreach (Match m in proto.Matches(File.ReadAllText(path)))
            protos[m.Groups[2].Value] = new[] { CKind(m.Groups[1].Value) }.Concat(m.Groups[3].Value.Split(',')
                .Select(p => Regex.Replace(p, @"\b\w+\s*$", "")).Where(p => p.Trim() != "").Select(CKind)).ToArray();
        return protos;  // the parameters without their names ("void": none)
    }

    static readonly Dictionary<string, string> CKinds = new Dictionary<string, string> {
        { "int", "i32" }, { "unsigned int", "u32" }, { "unsigned short", "u16" }, { "double", "f64" }, { "bool", "b8" },
        { "void", "void" }, { "int*", "i32*" }, { "const char*", "cstr" }, { "const wchar_t*", "wstr" } };

    static string CKind(string c)
    {
        c = Regex.Replace(Regex.Replace(c.Trim(), @"\s*\*", "*"), @"\s+", " ");
        string kind;
        return CKinds.TryGetValue(c, out kind) ? kind : c.EndsWith("**") ? "ptr*" : c.EndsWith("*") ? "ptr" : "?" + c;
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
        if (t == typeof(double) || t == typeof(float)) return "f" + Marshal.SizeOf(t) * 8;
        if (!t.IsPrimitive) return "?" + t.Name;
        bool signed = new[] { typeof(sbyte), typeof(short), typeof(int), typeof(long) }.Contains(t);
        return (signed ? "i" : "u") + Marshal.SizeOf(t) * 8;
    }

    // Every mismatch, one line each. With `complete` every prototype must have a declaration too.
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
            var got = new[] { NetKind(m.ReturnType, Attr(m.ReturnParameter), import.CharSet) }
                .Concat(m.GetParameters().Select(p => NetKind(p.ParameterType, Attr(p), import.CharSet))).ToArray();
            if (got.Length != want.Length)
                faults.Add(m.Name + ": " + (got.Length - 1) + " parameters, tarvex.h has " + (want.Length - 1));
            else
                for (int i = 0; i < got.Length; ++i)
                    if (want[i] != got[i] && !(want[i] == "wstr" && got[i].StartsWith("wstr")))
                        faults.Add(m.Name + ": " + (i == 0 ? "result" : "parameter " + i) + " is " + got[i] +
                                   ", tarvex.h has " + want[i]);
        }
        if (complete) faults.AddRange(header.Keys.Where(n => !declared.Contains(n)).Select(n => n + ": not declared"));
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

    static void Check(bool condition, string what) { if (!condition) throw new Exception(what); }

    static void Case(string name, Action run)
    {
        try { run(); ++passed; Console.WriteLine("ok - " + name); }
        catch (Exception e) { ++failed; Console.WriteLine("FAIL - " + name + ": " + e.Message); }
    }

    static bool WaitUntil(Func<bool> condition, double seconds)
    {
        var watch = Stopwatch.StartNew();
        for (; !condition(); Thread.Sleep(2))
            if (watch.Elapsed.TotalSeconds > seconds) return false;
        return true;
    }

    static int Main(string[] args)
    {
        var header = Declarations.ReadHeader(args[0]);
        Case("every declaration matches tarvex.h", () =>
        {
            var faults = Declarations.Check(typeof(Native), header, true);
            Check(faults.Count == 0, string.Join("; ", faults));
        });
        Case("each wrong width and convention is caught", () =>
        {
            var faults = Declarations.Check(typeof(WrongNative), header, false);
            string[] expected = {
                "setActiveAxis: parameter 3 is b32, tarvex.h has b8",
                "getGameData: parameter 2 is i64*, tarvex.h has i32*",
                "SetRigDofLimitValue: parameter 2 is f32, tarvex.h has f64",
                "getTarvexVersion: calling convention StdCall, the exports are Cdecl",
                "getGameName: parameter 1 is cstr, tarvex.h has ptr",
            };
            Check(faults.OrderBy(f => f).SequenceEqual(expected.OrderBy(f => f)), "found " + string.Join("; ", faults));
        });
        Case("results, bool and text arguments, arrays", () =>
        {
            var v = Regex.Matches(File.ReadAllText(args[0]), @"define TARVEX_VERSION_\w+ (\d+)").Cast<Match>()
                         .Select(x => int.Parse(x.Groups[1].Value)).ToArray();
            Check(Library.Version == v[0] * 10000 + v[1] * 100 + v[2], "version " + Library.Version);
            Check(Library.FadePercent == 100.0, "fade " + Library.FadePercent + " before any hold");
            Library.SetActiveAxis(0, 5, false);
            Check(Library.FadePercent == 0.0, "fade " + Library.FadePercent + " after setActiveAxis");
            Check(Library.InstallFormula(0, 3, "GAIN(EMALP(VALUE;10);2)"), "valid formula refused");
            Check(!Library.InstallFormula(0, 3, "GAIM(VALUE;2)"), "unknown keyword taken");
            // The wind fan's port as wide text: TARVEX_COM_MAP (set by the test) names COM57 and no COM58.
            Check(Library.InitWindSerial("COM57", 9600, "8N1", 15), "COM57 not found");
            Check(!Library.InitWindSerial("COM58", 9600, "8N1", 15), "COM58 found");
            // Arrays: channel names, channels, cues; no snapshots without a game.
            Check(Channels.Names.Length == 41 && Channels.Number("lateral_speed") == 1 && Channels.Number("x") == -1,
                  "names " + string.Join(",", Channels.Names));
            Check(Channels.All().Length == 43 && Library.MotionCues(CueSet.Held).Length == 23, "array lengths");
            Check(Snapshots.DrainCalculation().Length == 0 && Snapshots.DrainAcceleration().Length == 0, "records");
        });
        Case("the link loop ends with Dispose", () =>
        {
            byte[] m = { 0x01, 0x02, 0x0A, 0x0D };
            Link link;
            using (link = Link.Start())
                Check(WaitUntil(() => link.Send(m), 10) && link.Result == -1, "nothing queued while the loop runs");
            Check(link.Result == 1 && !link.Send(m), "the loop still runs after Dispose");
        });
        if (args.Length >= 3 && args[1] == "live") Case("live under the simulated X-Plane", () => Live(args[2]));
        Console.WriteLine(passed + " passed, " + failed + " failed");
        return failed == 0 ? 0 : 1;
    }

    // Rig limits (doubles) reach the output frame; the game's name, a channel by name and the
    // snapshot rows read back through the binding's arrays.
    static void Live(string gamesim)
    {
        Library.SetRigDofLimit(0, -0.5, 0.5);
        Library.SetRigDofLimit(1, -0.25, 0.25);
        int[] level = { 3, -3, 1 };  // axes 0, 1, 2 of both profiles
        for (int slot = 0; slot < 6; ++slot)
        {
            Library.SetActiveAxis(slot / 3, slot % 3, true);
            Check(Library.InstallFormula(slot / 3, slot % 3, "SETVALUE(VALUE;" + level[slot % 3] + ")"), "SETVALUE");
        }
        var gamePorts = new TcpListener(IPAddress.Loopback, 47391);  // the test programs' lock on the games
        Func<bool> locked = () => { try { gamePorts.Start(); return true; } catch (SocketException) { return false; } };
        Check(WaitUntil(locked, 300), "lock");
        var sim = Process.Start(new ProcessStartInfo(gamesim, "xplane --process-name X-Plane.exe --rate 250 "
            + "--flight-seconds 3 --seconds 60 --quiet") { UseShellExecute = false });
        try
        {
            using (GameSource.Start())
            {
                Library.SetMotionSystemReady(true);
                Check(WaitUntil(() => Library.GameId == 0, 30) && Library.GameName == "Xplane", Library.GameName);
                Func<int, float> dof = i => Library.FrameDof(Library.OutputFrame(), i);
                Check(WaitUntil(() => dof(0) == 0.5f && dof(1) == -0.25f, 10), "frame " + dof(0) + ", " + dof(1));
                Check(WaitUntil(() => Channels.Get("pitch_position") > 5, 8), "pitch never rose");
                // Every axis fades in by the same factor from zero: the rows keep 3 : -3 : 1.
                double[][] calc = Snapshots.DrainCalculation(), accel = Snapshots.DrainAcceleration();
                Check(calc.All(r => r.Length == 23 && Math.Abs(r[1] + r[0]) < 1e-9 && Math.Abs(r[0] - 3 * r[2]) < 1e-9)
                      && calc.Any(r => r[0] > 0.1), "calculation rows " + string.Join(",", calc[0]));
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
