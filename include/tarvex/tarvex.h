/*
 * tarvex: motion cueing between racing and flight simulators and a motion
 * platform. This is the host-facing interface of tarvex.dll (64-bit Windows)
 * and libtarvex.so (Linux): plain C functions with undecorated names.
 *
 * Conventions
 *   - int is a signed 32-bit integer; bool is one byte (0 false, else true).
 *   - Every function may be called from any host thread. The engine behind
 *     them is built on the first call and lives until the process ends.
 *   - Failures are reported by return values; out-of-range profile, axis,
 *     dof or index arguments are ignored. No C++ exception leaves a function.
 *   - Axis numbers 0..22: 0..5 the rig's six degrees of freedom (lateral,
 *     longitudinal, vertical, yaw, roll, pitch), 6..9 tilt parts, 10 belt,
 *     11..14 belt parts, 15..20 effect layers on axes 0..5, 21 wind, 22 unused.
 *   - Profile numbers: 0 the air profile, 1 the ground profile.
 *
 * Contents
 *   1. Export macro
 *   2. Version
 *   3. Game-source cycle and game
 *   4. Profiles, limits and outputs
 *   5. Channels, cues and snapshots
 *   6. Device messaging
 *   7. Network transport
 *   8. Wind fan
 */
#ifndef TARVEX_TARVEX_H
#define TARVEX_TARVEX_H

#ifdef __cplusplus
#include <cstddef>
extern "C" {
#else
#include <stdbool.h>
#include <stddef.h>
#endif

/* 1. Export macro ---------------------------------------------------------
 * TARVEX_BUILDING is defined only while the library itself is compiled.
 * A host that links a static copy of the library defines TARVEX_STATIC. */
#if defined(TARVEX_BUILDING) && defined(TARVEX_STATIC)
#error "TARVEX_BUILDING and TARVEX_STATIC exclude each other"
#endif

#if defined(TARVEX_STATIC)
#define TARVEX_API
#elif defined(_WIN32)
#if defined(TARVEX_BUILDING)
#define TARVEX_API __declspec(dllexport)
#else
#define TARVEX_API __declspec(dllimport)
#endif
#else
#define TARVEX_API __attribute__((visibility("default")))
#endif

/* 2. Version --------------------------------------------------------------
 * major * 10000 + minor * 100 + patch of the loaded library. A host built
 * against this header can compare it with TARVEX_VERSION at load time. */
#define TARVEX_VERSION_MAJOR 0
#define TARVEX_VERSION_MINOR 1
#define TARVEX_VERSION_PATCH 0
#define TARVEX_VERSION \
  (TARVEX_VERSION_MAJOR * 10000 + TARVEX_VERSION_MINOR * 100 + TARVEX_VERSION_PATCH)

TARVEX_API int getTarvexVersion(void);

/* 3. Game-source cycle and game -------------------------------------------
 * The game-source thread searches for a supported game, opens its telemetry
 * and, once the host has called setMotionsystemready(1), turns every frame
 * into motion outputs 500 times per second.
 *
 * The thread runs at the highest priority the process may take (Windows:
 * real-time class, time-critical thread; Linux: SCHED_FIFO where permitted).
 * Set the environment variable TARVEX_NO_REALTIME=1 before the first call to
 * keep normal priorities (test suites, laptops, debugging).
 *
 * startGamesource_Thread does nothing while the cycle runs. If the system
 * cannot create the thread, the cycle stays stopped and a later call tries
 * again. stopGamesource_Thread returns when the thread has ended. */
TARVEX_API void startGamesource_Thread(void);
TARVEX_API void stopGamesource_Thread(void);

/* Id of the detected game (0..17), -1 when none. */
TARVEX_API int getGameID(void);
/* Writes the detected game's name or "No Game online", NUL-terminated;
 * buffer must hold at least 21 bytes. */
TARVEX_API void getGameName(char* buffer);

/* 1 while the motion system is ready to move; the cycle processes frames only
 * then. Each change holds the outputs and fades them in again over 4 s. */
TARVEX_API void setMotionsystemready(int ready);
/* Nonzero: precise 2 ms pacing (sleep, then busy wait); 0: coarse pacing
 * (sleeps only). Every start of the cycle selects precise pacing again. */
TARVEX_API void setTimerPrecision(int mode);

/* Length of the cycle's last lap, and the time between the game's last two
 * telemetry frames, in milliseconds. */
TARVEX_API double getMotionDataTimeFrame(void);
TARVEX_API double getGameTimeFrame(void);

/* 4. Profiles, limits and outputs -----------------------------------------
 * setcheckFilterstring installs a filter formula such as
 * "GAIN(EMALP(VALUE;10);2)" in one slot of a profile: 1 when it was valid
 * and installed, 0 otherwise (the slot keeps its formula). Either way the
 * outputs are held and fade in again; after a refused formula no output
 * frame is sent until a formula is installed or a game source opens. */
TARVEX_API int setcheckFilterstring(int profile, int axis, const char* formula);
TARVEX_API void setActiveAxis(int profile, int axis, bool on);
TARVEX_API void setBelt_Mix(int profile, int index, double weight);
/* Clamp of the six rig outputs (dof 0..5 take effect; 0..22 are stored). */
TARVEX_API void SetRigDofLimitValue(int dof, double min, double max);
/* Clamp of the slot inputs for dof 0..7; dof 8 and 9 always get -360..360. */
TARVEX_API void SetInputDofLimitValue(int dof, double min, double max);

/* Motion cancel: the smoothed rig pose in the shared memory block
 * "Local\motionRigPose". Filter and gain are taken only while it is on. */
TARVEX_API void activateMotionCancel(bool on);
TARVEX_API void setFilterMotionCancel(double value);
TARVEX_API void setGainMotionCancel(double value);

/* 0 air, 1 ground, -1 no game. */
TARVEX_API int getactiveProfil(void);
/* Fade-in after a hold, and the weights of the air and ground profiles, in
 * whole percent 0..100. */
TARVEX_API double getTransitionStatus(void);
TARVEX_API double getProfilAirTransitionStatus(void);
TARVEX_API double getProfilGrdTransitionStatus(void);

/* Copies the last 36-byte frame sent to the motion controller. */
TARVEX_API void getOutputData(unsigned char* buffer);

/* 5. Channels, cues and snapshots -----------------------------------------
 * The game's telemetry as 43 channels (doubles). Channel 0 is always 0.0,
 * channel c in 1..41 carries the quantity named by name c - 1, channel 42 the
 * belt mix. The arrays handed out are the engine's live arrays: the cycle
 * rewrites them every 2 ms while the host reads. */

/* Always 44, the number of entries of the channel-name table. */
TARVEX_API int getGameDataCount(void);
TARVEX_API void getGameData(double** data, int* count);
/* *names = "lateral_speed", the name of channel 1, *count = 43. The 41 names
 * lie one after the other, each NUL-terminated, and an empty name ends them,
 * so a host walks them by stepping past each terminator:
 *   for (const char* n = names; *n; n += strlen(n) + 1) ... */
TARVEX_API void getGameDataNames(const char** names, int* count);
/* which: 0 air cues, 1 ground cues, 2 final cues, 3 held cues; 23 values.
 * Any other value leaves *data and *count untouched. */
TARVEX_API void getMotionCueData(int which, double** data, int* count);

/* Each Get drains its history (at most the last 150 active cycles, oldest
 * first) into a new block of *count records: 23 doubles per calculation
 * snapshot (one per axis), 43 per acceleration snapshot (the channels).
 * Returns NULL with *count 0 when the history is empty, or when no memory
 * is left (the records then stay in the history). Release every block with
 * FreeCalculationSnapshots or FreeAccelerationSnapshots (the same function). */
TARVEX_API double* GetCalculationSnapshots(int* count);
TARVEX_API double* GetAccelerationSnapshots(int* count);
TARVEX_API void FreeCalculationSnapshots(void* block);
TARVEX_API void FreeAccelerationSnapshots(void* block);
/* The last calculation snapshot, 23 doubles, rewritten every active cycle. */
TARVEX_API const double* GetPositionSnapshot(void);

/* 6. Device messaging -----------------------------------------------------
 * Byte messages to and from the motion controller. The serial link loop
 * moves them between process-wide queues and the controller's COM port
 * every 2 ms; it runs on the host thread that calls startTarvex_Thread.
 * Messages to the controller end with two placeholder bytes (the serial
 * link puts the CRC-16 there); messages from it end with 0x0A 0x0D.
 * Linux: COM numbers name /dev/ttyS*, ttyUSB*, ttyACM* as Wine numbers them
 * (COM1, COM33, COM65 the first of each); TARVEX_COM_MAP adds others. */

/* Runs the link loop on the calling thread until stopTarvex_Thread; then 1.
 * Returns 0 at once when the loop already runs on another thread. */
TARVEX_API int startTarvex_Thread(void);
/* Ends the link loop (and the network threads) and waits until it ended;
 * returns at once when no loop runs. */
TARVEX_API void stopTarvex_Thread(void);
/* Queues `length` bytes for the controller: 1 queued, -1 refused (no link
 * running, length <= 0, or the live link's queue holds 150 messages). */
TARVEX_API int sendMessagemmf(const unsigned char* message, int length);
/* Copies the oldest message from the controller into buffer (at least 4096
 * bytes): the bytes up to and including the first 0x0A 0x0D; 0 when none. */
TARVEX_API unsigned int readMessagemmf(unsigned char* buffer);
/* 1 when readMessagemmf would find a message. */
TARVEX_API int newMessagemmf(void);
/* Queues a message sent every cycle until a newer one is queued, a lone one
 * 12 times: the bytes up to and including the first 0x0A 0x0D within 4096.
 * 1 queued, 0 otherwise. */
TARVEX_API int autoMessagemmf(const unsigned char* message);
/* 1 while a controller is connected and a link runs. */
TARVEX_API int isConnected(void);
TARVEX_API int isInterfaceRunning(void);
/* Closes the port and idles the loop; always 1. */
TARVEX_API int pauseInterface(void);
/* Ends the pause: with autoconnect 1 at once (the loop scans the ports),
 * else up to three attempts on the standard port; 1 when connected. */
TARVEX_API int resumeInterface(void);
/* While set, the loop tries every COM port whenever no controller is
 * connected. Both return 1. */
TARVEX_API int enableAutoconnect(void);
TARVEX_API int disableAutoconnect(void);
/* The port resumeInterface tries: the number after "COM" in the text
 * ("COM7", "\\.\COM12"); 1 when set, 0 when the text has no "COM". */
TARVEX_API int setStandartPort(const char* port);
/* Length of the link loop's last cycle in milliseconds. */
TARVEX_API double getOutputTimeFrame(void);

/* 7. Network transport ----------------------------------------------------
 * A controller on the network: host messages and output frames go out as
 * UDP multicast to 232.11.12.14, port 51324, from the active Ethernet
 * adapter with the lowest IPv4 metric; the controller answers on a UDP
 * port of this computer (53241 unless set). The network link is live while
 * answers arrive (8 s of silence end it and drop the messages still
 * waiting to be sent); both threads idle while the serial link is live and
 * end with stopTarvex_Thread. Each writes its steps to the diagnostic log.
 * A start while an older thread of the same kind runs replaces that one.
 * If the system cannot create the thread, none runs (no exception). */
TARVEX_API void startUPDListenThread(void);
TARVEX_API void startUPDMulticastSenderThread(void);
/* The listen port of the next startUPDListenThread. */
TARVEX_API void setUDPport(unsigned short port);
/* Checks a dotted IPv4 text and logs the outcome; the destination stays
 * 232.11.12.14, port 51324. */
TARVEX_API void setMulticastAddr(const char* address);

/* 8. Wind fan ---------------------------------------------------------------
 * The library's own fan on a serial port ("COM3"; mode "8N1": data bits,
 * parity N/E/O, stop bits 1 or 2). true when the system has that port; the
 * game-source cycle opens it once the wind axis (21) of the air profile is
 * active and sends the wind level 0..100 as one byte 0..255 every
 * intervalMs. Any host can use this; the class WindSerial
 * (tarvex/wind_serial.h) serves C++ hosts built with the library's compiler. */
TARVEX_API bool initWindSerial(const wchar_t* port, int baud, const wchar_t* mode, unsigned int intervalMs);

#ifdef __cplusplus
}
#endif

#endif /* TARVEX_TARVEX_H */
