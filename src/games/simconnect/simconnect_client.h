// Our own SimConnect client: the calls the Microsoft Flight Simulator
// readers make, with the names, arguments and results of the SimConnect API,
// over the simulator's wire protocol (simconnect_wire.h).
//
// SimConnect_Open finds the server as SimConnect.cfg says (or by default,
// simconnect_config.h), sends the Open packet for protocol 5 (MSFS 2020's;
// MSFS 2024 accepts it too) and waits at most kOpenAnswerWait for the
// server's answer. A server that refuses the version, or closes without an
// answer, is tried once more with protocol 4. Without a server Open fails
// at once; in every failure the handle stays null.
//
// An open connection receives on a thread of its own: it cuts the stream
// into messages, checks each against its size word before anything is read
// from it, and queues them (message_queue.h). A message larger than
// MaxReceiveSize is dropped with a line in the diagnostic log and the
// stream goes on after it. When the stream ends (the simulator crashed or
// went away) or breaks (a size word below the header), the queue gets a
// quit message of the client's own after what came before, so the reader
// closes the connection as it does when the simulator quits.
//
// GetNextDispatch never waits: it hands out the oldest queued message,
// valid until the next call on the same handle, or fails when the queue is
// empty. The other calls send one packet each and return at once; the
// server answers a bad one later with an exception message.
//
// A handle is used by one thread at a time (the game-source thread).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "games/simconnect/simconnect_wire.h"
#include "platform/stream_connect.h"

namespace tarvex::simconnect {

// Results as Windows writes them: kOk is S_OK, kFail is E_FAIL; any
// negative value is a failure.
using HRESULT = std::int32_t;
inline constexpr HRESULT kOk = 0;
inline constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);

struct Connection;
using HANDLE = Connection*;

// Data types of AddToDataDefinition.
inline constexpr std::uint32_t kDataTypeInt64 = 2;
inline constexpr std::uint32_t kDataTypeFloat64 = 4;
// RequestDataOnSimObject: the user's aircraft, every simulation frame.
inline constexpr std::uint32_t kObjectIdUser = 0;
inline constexpr std::uint32_t kPeriodSimFrame = 3;

// A byte stream to the server.
class Transport {
 public:
  virtual ~Transport() = default;
  // True when all `size` bytes went out.
  virtual bool sendAll(const void* data, int size) = 0;
  // Bytes received (at most `size`), 0 when nothing came within `wait`, -1
  // when the server closed the stream or it failed.
  virtual int receive(void* buffer, int size, std::chrono::milliseconds wait) = 0;
  // Makes a receive under way, and every later one, return at once (the
  // connection is closing). A transport whose receive waits briefly anyway
  // needs nothing here.
  virtual void interrupt() noexcept {}
};

// Opens a transport to the server, or returns null.
using Connector = std::function<std::unique_ptr<Transport>()>;

// A TCP transport to address:port (IPv4, host byte order), connected within `wait`.
std::unique_ptr<Transport> connectTcp(std::uint32_t address, std::uint16_t port,
                                      std::chrono::milliseconds wait);
// A TCP transport to a host named by text, in one address family.
std::unique_ptr<Transport> connectTcp(const std::string& host, std::uint16_t port,
                                      platform::AddressFamily family, std::chrono::milliseconds wait,
                                      bool noDelay = true);
// A transport over an existing local pipe ("\\.\pipe\NAME"); null when
// there is none (always on Linux).
std::unique_ptr<Transport> connectPipe(std::string_view name);

// Replaces how the client finds the server (tests); an empty connector
// restores the configuration. Not for use while a connection is being opened.
void setConnector(Connector connector);

inline constexpr std::chrono::milliseconds kConnectWait{200};
inline constexpr std::chrono::milliseconds kOpenAnswerWait{500};
// How long the receive thread waits for bytes before it looks whether the
// connection is being closed.
inline constexpr std::chrono::milliseconds kReceivePoll{20};

// Fills *handle on success; on failure *handle is null. The window, user
// message and event are accepted for the API's sake; configIndex picks the
// SimConnect.cfg section (0xFFFFFFFF: ignore the file).
HRESULT SimConnect_Open(HANDLE* handle, const char* name, void* window, std::uint32_t userMessage,
                        void* eventHandle, std::uint32_t configIndex) noexcept;
// Stops the receive thread and drops the connection; the caller drops the handle.
HRESULT SimConnect_Close(HANDLE handle) noexcept;

HRESULT SimConnect_AddToDataDefinition(HANDLE handle, std::uint32_t defineId, const char* datumName,
                                       const char* unitsName, std::uint32_t datumType = kDataTypeFloat64,
                                       float epsilon = 0.0f, std::uint32_t datumId = kUnused) noexcept;
HRESULT SimConnect_RequestDataOnSimObject(HANDLE handle, std::uint32_t requestId, std::uint32_t defineId,
                                          std::uint32_t objectId, std::uint32_t period,
                                          std::uint32_t flags = 0, std::uint32_t origin = 0,
                                          std::uint32_t interval = 0, std::uint32_t limit = 0) noexcept;
HRESULT SimConnect_SubscribeToSystemEvent(HANDLE handle, std::uint32_t eventId, const char* eventName) noexcept;
// The oldest queued message and its size; kFail (and null) when none is queued.
HRESULT SimConnect_GetNextDispatch(HANDLE handle, const RecvHeader** message, std::uint32_t* size) noexcept;

// Not SimConnect's: messages waiting in the queue, the protocol the server
// took, and the messages dropped because the queue was full.
std::size_t queuedMessages(HANDLE handle) noexcept;
std::uint32_t protocolVersion(HANDLE handle) noexcept;
std::uint64_t droppedMessages(HANDLE handle) noexcept;

}  // namespace tarvex::simconnect
