// tarvex for C# hosts: every export of tarvex.dll (Windows) and libtarvex.so
// (Linux) declared for P/Invoke, and a small safe layer over them.
//
// Add this one file to your project. The runtime looks the library up by the
// name "tarvex": tarvex.dll next to your program on Windows; libtarvex.so on
// the library path on Linux (LD_LIBRARY_PATH, or an installed copy).
//
//   Native      the exports as they are, name for name (tarvex/tarvex.h)
//   Library     the settings and readings, with C# types
//   Channels    the game's channels by name
//   Snapshots   the snapshot histories as arrays; the native blocks are freed
//   GameSource  the game-source thread, stopped by Dispose
//   Link        the device link loop on a thread of its own, stopped by Dispose
//
// Marshalling, as the header states it: int is 32 bits; bool is one byte
// (MarshalAs U1, never the 4-byte default); wchar_t is 2 bytes on Windows and
// 4 on Linux, so initWindSerial has a UTF-16 and a UTF-32 declaration and
// Library.InitWindSerial picks one at run time.
using System;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

namespace Tarvex
{
    public static class Native
    {
        public const string Dll = "tarvex";
        const CallingConvention C = CallingConvention.Cdecl;

        // Version
        [DllImport(Dll, CallingConvention = C)] public static extern int getTarvexVersion();

        // Game-source cycle and game
        [DllImport(Dll, CallingConvention = C)] public static extern void startGamesource_Thread();
        [DllImport(Dll, CallingConvention = C)] public static extern void stopGamesource_Thread();
        [DllImport(Dll, CallingConvention = C)] public static extern int getGameID();
        // buffer: at least 21 bytes; the name comes back NUL-terminated.
        [DllImport(Dll, CallingConvention = C)] public static extern void getGameName(byte[] buffer);
        [DllImport(Dll, CallingConvention = C)] public static extern void setMotionsystemready(int ready);
        [DllImport(Dll, CallingConvention = C)] public static extern void setTimerPrecision(int mode);
        [DllImport(Dll, CallingConvention = C)] public static extern double getMotionDataTimeFrame();
        [DllImport(Dll, CallingConvention = C)] public static extern double getGameTimeFrame();

        // Profiles, limits and outputs
        [DllImport(Dll, CallingConvention = C)]
        public static extern int setcheckFilterstring(int profile, int axis, [MarshalAs(UnmanagedType.LPStr)] string formula);
        [DllImport(Dll, CallingConvention = C)]
        public static extern void setActiveAxis(int profile, int axis, [MarshalAs(UnmanagedType.U1)] bool on);
        [DllImport(Dll, CallingConvention = C)] public static extern void setBelt_Mix(int profile, int index, double weight);
        [DllImport(Dll, CallingConvention = C)] public static extern void SetRigDofLimitValue(int dof, double min, double max);
        [DllImport(Dll, CallingConvention = C)] public static extern void SetInputDofLimitValue(int dof, double min, double max);
        [DllImport(Dll, CallingConvention = C)]
        public static extern void activateMotionCancel([MarshalAs(UnmanagedType.U1)] bool on);
        [DllImport(Dll, CallingConvention = C)] public static extern void setFilterMotionCancel(double value);
        [DllImport(Dll, CallingConvention = C)] public static extern void setGainMotionCancel(double value);
        [DllImport(Dll, CallingConvention = C)] public static extern int getactiveProfil();
        [DllImport(Dll, CallingConvention = C)] public static extern double getTransitionStatus();
        [DllImport(Dll, CallingConvention = C)] public static extern double getProfilAirTransitionStatus();
        [DllImport(Dll, CallingConvention = C)] public static extern double getProfilGrdTransitionStatus();
        // buffer: at least 36 bytes.
        [DllImport(Dll, CallingConvention = C)] public static extern void getOutputData(byte[] buffer);

        // Channels, cues and snapshots. The data pointers are the engine's
        // live arrays; the snapshot blocks belong to the caller until freed.
        [DllImport(Dll, CallingConvention = C)] public static extern int getGameDataCount();
        [DllImport(Dll, CallingConvention = C)] public static extern void getGameData(out IntPtr data, out int count);
        [DllImport(Dll, CallingConvention = C)] public static extern void getGameDataNames(out IntPtr names, out int count);
        [DllImport(Dll, CallingConvention = C)]
        public static extern void getMotionCueData(int which, out IntPtr data, out int count);
        [DllImport(Dll, CallingConvention = C)] public static extern IntPtr GetCalculationSnapshots(out int count);
        [DllImport(Dll, CallingConvention = C)] public static extern IntPtr GetAccelerationSnapshots(out int count);
        [DllImport(Dll, CallingConvention = C)] public static extern void FreeCalculationSnapshots(IntPtr block);
        [DllImport(Dll, CallingConvention = C)] public static extern void FreeAccelerationSnapshots(IntPtr block);
        [DllImport(Dll, CallingConvention = C)] public static extern IntPtr GetPositionSnapshot();

        // Device messaging
        [DllImport(Dll, CallingConvention = C)] public static extern int startTarvex_Thread();
        [DllImport(Dll, CallingConvention = C)] public static extern void stopTarvex_Thread();
        [DllImport(Dll, CallingConvention = C)] public static extern int sendMessagemmf(byte[] message, int length);
        // buffer: at least 4096 bytes.
        [DllImport(Dll, CallingConvention = C)] public static extern uint readMessagemmf(byte[] buffer);
        [DllImport(Dll, CallingConvention = C)] public static extern int newMessagemmf();
        [DllImport(Dll, CallingConvention = C)] public static extern int autoMessagemmf(byte[] message);
        [DllImport(Dll, CallingConvention = C)] public static extern int isConnected();
        [DllImport(Dll, CallingConvention = C)] public static extern int isInterfaceRunning();
        [DllImport(Dll, CallingConvention = C)] public static extern int pauseInterface();
        [DllImport(Dll, CallingConvention = C)] public static extern int resumeInterface();
        [DllImport(Dll, CallingConvention = C)] public static extern int enableAutoconnect();
        [DllImport(Dll, CallingConvention = C)] public static extern int disableAutoconnect();
        [DllImport(Dll, CallingConvention = C)]
        public static extern int setStandartPort([MarshalAs(UnmanagedType.LPStr)] string port);
        [DllImport(Dll, CallingConvention = C)] public static extern double getOutputTimeFrame();

        // Network transport
        [DllImport(Dll, CallingConvention = C)] public static extern void startUPDListenThread();
        [DllImport(Dll, CallingConvention = C)] public static extern void startUPDMulticastSenderThread();
        [DllImport(Dll, CallingConvention = C)] public static extern void setUDPport(ushort port);
        [DllImport(Dll, CallingConvention = C)]
        public static extern void setMulticastAddr([MarshalAs(UnmanagedType.LPStr)] string address);

        // Wind fan. wchar_t is UTF-16 on Windows: a wide string as .NET has it.
        [DllImport(Dll, CallingConvention = C, EntryPoint = "initWindSerial")]
        [return: MarshalAs(UnmanagedType.U1)]
        public static extern bool initWindSerial_Utf16([MarshalAs(UnmanagedType.LPWStr)] string port, int baud,
                                                       [MarshalAs(UnmanagedType.LPWStr)] string mode, uint intervalMs);
        // On Linux wchar_t is a 32-bit code point: the text as UTF-32 units,
        // ending in 0 (Utf32 makes them).
        [DllImport(Dll, CallingConvention = C, EntryPoint = "initWindSerial")]
        [return: MarshalAs(UnmanagedType.U1)]
        public static extern bool initWindSerial_Utf32(uint[] port, int baud, uint[] mode, uint intervalMs);

        // A NUL-terminated UTF-32 text for initWindSerial_Utf32.
        public static uint[] Utf32(string text)
        {
            byte[] bytes = new UTF32Encoding(false, false).GetBytes(text);
            uint[] units = new uint[bytes.Length / 4 + 1];
            Buffer.BlockCopy(bytes, 0, units, 0, bytes.Length);
            return units;
        }

        // wchar_t is 2 bytes on Windows, 4 elsewhere.
        public static bool WideCharIsUtf16
        {
            get { return Environment.OSVersion.Platform == PlatformID.Win32NT; }
        }
    }

    // Which array getMotionCueData hands out.
    public enum CueSet { Air = 0, Ground = 1, Final = 2, Held = 3 }

    public static class Library
    {
        public const int ChannelCount = 43;
        public const int AxisCount = 23;
        public const int OutputFrameBytes = 36;

        // major * 10000 + minor * 100 + patch
        public static int Version { get { return Native.getTarvexVersion(); } }
        // 0..17, -1 while no game is found.
        public static int GameId { get { return Native.getGameID(); } }
        public static string GameName
        {
            get
            {
                byte[] buffer = new byte[64];
                Native.getGameName(buffer);
                int end = Array.IndexOf(buffer, (byte)0);
                return Encoding.ASCII.GetString(buffer, 0, end < 0 ? buffer.Length : end);
            }
        }
        // 0 air, 1 ground, -1 no game.
        public static int ActiveProfile { get { return Native.getactiveProfil(); } }
        public static double CycleMilliseconds { get { return Native.getMotionDataTimeFrame(); } }
        public static double GameFrameMilliseconds { get { return Native.getGameTimeFrame(); } }
        // The fade-in after a hold, 0..100 %.
        public static double FadePercent { get { return Native.getTransitionStatus(); } }

        public static void SetMotionSystemReady(bool ready) { Native.setMotionsystemready(ready ? 1 : 0); }
        public static void SetPrecisePacing(bool precise) { Native.setTimerPrecision(precise ? 1 : 0); }
        // true when the formula was valid and installed.
        public static bool InstallFormula(int profile, int axis, string formula)
        {
            return Native.setcheckFilterstring(profile, axis, formula) == 1;
        }
        public static void SetActiveAxis(int profile, int axis, bool on) { Native.setActiveAxis(profile, axis, on); }
        public static void SetBeltMix(int profile, int index, double weight) { Native.setBelt_Mix(profile, index, weight); }
        public static void SetRigDofLimit(int dof, double min, double max) { Native.SetRigDofLimitValue(dof, min, max); }
        public static void SetInputDofLimit(int dof, double min, double max) { Native.SetInputDofLimitValue(dof, min, max); }

        // The last 36-byte frame sent to the motion controller.
        public static byte[] OutputFrame()
        {
            byte[] frame = new byte[OutputFrameBytes];
            Native.getOutputData(frame);
            return frame;
        }
        // Degree of freedom 0..5 of an output frame (little-endian floats).
        public static float FrameDof(byte[] frame, int dof)
        {
            byte[] b = { frame[2 + 4 * dof], frame[3 + 4 * dof], frame[4 + 4 * dof], frame[5 + 4 * dof] };
            if (!BitConverter.IsLittleEndian) Array.Reverse(b);
            return BitConverter.ToSingle(b, 0);
        }

        // A copy of one of the 23-value cue arrays.
        public static double[] MotionCues(CueSet which)
        {
            IntPtr data;
            int count;
            Native.getMotionCueData((int)which, out data, out count);
            return Copy(data, count);
        }

        // The library's own fan on a serial port ("COM3", 9600, "8N1", 15 ms).
        public static bool InitWindSerial(string port, int baud, string mode, uint intervalMs)
        {
            return Native.WideCharIsUtf16
                ? Native.initWindSerial_Utf16(port, baud, mode, intervalMs)
                : Native.initWindSerial_Utf32(Native.Utf32(port), baud, Native.Utf32(mode), intervalMs);
        }

        internal static double[] Copy(IntPtr data, int count)
        {
            double[] values = new double[data == IntPtr.Zero || count < 0 ? 0 : count];
            if (values.Length > 0) Marshal.Copy(data, values, 0, values.Length);
            return values;
        }
    }

    // The game's channels by their names: channel c carries name c - 1.
    public static class Channels
    {
        static string[] names;
        static IntPtr live;

        public static string[] Names
        {
            get
            {
                if (names != null) return names;
                IntPtr at;
                int count;
                Native.getGameDataNames(out at, out count);
                var found = new System.Collections.Generic.List<string>();
                while (at != IntPtr.Zero && Marshal.ReadByte(at) != 0)
                {
                    string name = Marshal.PtrToStringAnsi(at);
                    found.Add(name);
                    at = IntPtr.Add(at, Encoding.ASCII.GetByteCount(name) + 1);
                }
                names = found.ToArray();
                return names;
            }
        }

        // The channel number of a name; -1 when the library has no such channel.
        public static int Number(string name)
        {
            int i = Array.IndexOf(Names, name);
            return i < 0 ? -1 : i + 1;
        }

        // The live value of a channel, read from the engine's array.
        public static double Get(string name)
        {
            int c = Number(name);
            if (c < 0) throw new ArgumentException("tarvex has no channel named '" + name + "'", "name");
            if (live == IntPtr.Zero)
            {
                int count;
                Native.getGameData(out live, out count);
            }
            return BitConverter.Int64BitsToDouble(Marshal.ReadInt64(live, c * sizeof(double)));
        }

        // A copy of all 43 channels.
        public static double[] All()
        {
            IntPtr data;
            int count;
            Native.getGameData(out data, out count);
            return Library.Copy(data, count);
        }
    }

    // The snapshot histories, drained: each call hands out the records since
    // the last one, oldest first, and frees the native block.
    public static class Snapshots
    {
        // One row per active cycle, 23 values (one per axis).
        public static double[][] DrainCalculation()
        {
            return Drain(Native.GetCalculationSnapshots, Native.FreeCalculationSnapshots, Library.AxisCount);
        }
        // One row per active cycle, the 43 channels.
        public static double[][] DrainAcceleration()
        {
            return Drain(Native.GetAccelerationSnapshots, Native.FreeAccelerationSnapshots, Library.ChannelCount);
        }
        // The last calculation snapshot.
        public static double[] Position() { return Library.Copy(Native.GetPositionSnapshot(), Library.AxisCount); }

        delegate IntPtr Getter(out int count);

        static double[][] Drain(Getter get, Action<IntPtr> free, int width)
        {
            int count;
            IntPtr block = get(out count);
            try
            {
                if (block == IntPtr.Zero) return new double[0][];
                double[][] rows = new double[count][];
                for (int k = 0; k < count; ++k)
                {
                    rows[k] = new double[width];
                    Marshal.Copy(IntPtr.Add(block, k * width * sizeof(double)), rows[k], 0, width);
                }
                return rows;
            }
            finally
            {
                free(block);  // null is accepted
            }
        }
    }

    // The game-source thread: searches for a game and runs the cycle until
    // disposed.
    public sealed class GameSource : IDisposable
    {
        bool running;

        public static GameSource Start()
        {
            Native.startGamesource_Thread();
            return new GameSource { running = true };
        }

        public void Dispose()
        {
            if (!running) return;
            running = false;
            Native.stopGamesource_Thread();
        }
    }

    // The serial link loop, which runs on the thread that starts it: here a
    // background thread of its own. Dispose ends the loop and the network
    // threads and waits for the thread.
    public sealed class Link : IDisposable
    {
        Thread thread;
        volatile int result = -1;

        public static Link Start()
        {
            var link = new Link();
            link.thread = new Thread(() => { link.result = Native.startTarvex_Thread(); });
            link.thread.IsBackground = true;
            link.thread.Name = "tarvex link";
            link.thread.Start();
            return link;
        }

        // 0 when another loop was running already; 1 once the loop ended; -1 while it runs.
        public int Result { get { return result; } }
        public bool Connected { get { return Native.isConnected() == 1; } }

        // false when no link runs or the queue is full.
        public bool Send(byte[] message) { return Native.sendMessagemmf(message, message.Length) == 1; }

        // The oldest message from the controller, or null.
        public byte[] Receive()
        {
            byte[] buffer = new byte[4096];
            uint n = Native.readMessagemmf(buffer);
            if (n == 0) return null;
            byte[] message = new byte[n];
            Array.Copy(buffer, message, (int)n);
            return message;
        }

        public void Dispose()
        {
            if (thread == null) return;
            Native.stopTarvex_Thread();
            thread.Join();
            thread = null;
        }
    }
}
