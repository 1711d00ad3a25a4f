/*
 * WindSerial: a wind fan on a serial port of its own, exported by tarvex.dll
 * and libtarvex.so as a C++ class.
 *
 * The fan takes one byte at a time, its level 0..255. WindSerial opens and
 * configures the port, keeps a small buffer of bytes and sends them one by
 * one from a thread of its own, pausing `intervalMs` after each.
 *
 * Who can use the class directly: its ABI is the compiler's. On Windows only
 * hosts built with MinGW-w64 g++ (posix threads, libstdc++ with the C++11
 * string ABI, the same major version as the library's) can create and call
 * WindSerial objects; an MSVC or clang-cl host cannot. On Linux any host
 * built with g++ or clang++ against libstdc++ can. Every host, in any
 * language, can drive the library's own fan through the plain C export
 * initWindSerial (tarvex/tarvex.h): the game-source cycle then starts the
 * port when the wind axis (21) is active and sends its level every cycle.
 *
 * Port names: "COM3". On Linux COM numbers name /dev/ttyS*, ttyUSB*,
 * ttyACM* as Wine numbers them, and TARVEX_COM_MAP adds others.
 */
#ifndef TARVEX_WIND_SERIAL_H
#define TARVEX_WIND_SERIAL_H

#ifndef __cplusplus
#error "tarvex/wind_serial.h is C++; C hosts use initWindSerial from tarvex/tarvex.h"
#endif

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/* The library's own code (and the programs that link its code statically)
 * defines TARVEX_CORE; hosts of the DLL import the class. */
#if defined(TARVEX_STATIC)
#define TARVEX_CLASS
#elif defined(_WIN32)
#if defined(TARVEX_BUILDING) || defined(TARVEX_CORE)
#define TARVEX_CLASS __declspec(dllexport)
#else
#define TARVEX_CLASS __declspec(dllimport)
#endif
#else
#define TARVEX_CLASS __attribute__((visibility("default")))
#endif

class TARVEX_CLASS WindSerial {
 public:
  WindSerial();
  /* stop(), then the members are freed. */
  ~WindSerial();
  WindSerial(const WindSerial&) = delete;
  WindSerial& operator=(const WindSerial&) = delete;

  /* Takes intervalMs in any case. When the system has a device named `port`
   * ("COM3"), keeps port, baud and mode ("8N1": data bits, parity N/E/O in
   * any case, stop bits 1 or 2), clears the failure count and returns true;
   * otherwise returns false and the object is not initialised. Opens
   * nothing. */
  bool init(const std::string& port, int baud, const std::string& mode, unsigned int intervalMs);
  /* Opens and configures the port, writes one 0x00 and starts the sending
   * thread. Does nothing unless initialised, stopped and fewer than three
   * starts have failed since the last init or stop. A thread the system
   * refuses raises std::system_error (the port is closed again). */
  void start();
  /* Writes one 0x00 when the port is open; bytes are taken but not sent
   * until unpause. */
  void pause();
  void unpause();
  /* Writes one 0x00 when the port is open, ends the thread, closes the port,
   * clears the failure count. */
  void stop();
  bool isRunning() const;
  bool isInit() const;
  /* Replaces the bytes still to send. */
  void updateBuffer(const std::vector<unsigned char>& bytes);

 private:
  bool configurePort(int baud, const std::string& mode);
  void sendingThreadFunc();

  std::intptr_t portHandle_;
  std::atomic<bool> running_;
  std::atomic<bool> paused_;
  std::atomic<bool> initialised_;
  /* The sending thread has left its loop (the DLL's unload waits for it). */
  std::atomic<bool> loopLeft_;
  std::thread sendingThread_;
  std::mutex bufferLock_;
  std::vector<unsigned char> buffer_;
  std::atomic<unsigned int> intervalMs_;
  std::string portName_;
  int baud_;
  std::string mode_;
  unsigned int failCount_;
  /* Serialises init, start, pause and stop between the owner's threads. */
  std::mutex controlLock_;
};

#endif /* TARVEX_WIND_SERIAL_H */
