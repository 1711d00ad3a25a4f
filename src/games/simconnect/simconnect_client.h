// Our own SimConnect client: the calls the Microsoft Flight Simulator
// readers make, with the names and results of Microsoft's SimConnect API.
//
// So far the client does what detection needs: SimConnect_Open reaches the
// simulator's server, sends the Open packet and waits for its answer;
// SimConnect_Close drops the connection. When no simulator is reachable,
// Open fails at once (no server) or after kOpenAnswerWait (a server that
// does not answer), and leaves the handle null. The data calls
// (AddToDataDefinition, RequestDataOnSimObject, SubscribeToSystemEvent,
// GetNextDispatch) join them behind the same Connection.
//
// The server is reached through a Transport. By default the client tries
// the simulator's local pipe (Windows: "\\.\pipe\Microsoft Flight
// Simulator\SimConnect", which MSFS 2020 and 2024 both create), then its
// local IPv4 listener, 127.0.0.1 port 500. Neither there: Open fails at
// once. Tests set a connector of their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace tarvex::simconnect {

// Results as Windows writes them: kOk is S_OK, kFail is E_FAIL; any
// negative value is a failure.
using HRESULT = std::int32_t;
inline constexpr HRESULT kOk = 0;
inline constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005u);

struct Connection;
using HANDLE = Connection*;

// A byte stream to the server.
class Transport {
 public:
  virtual ~Transport() = default;
  // True when all `size` bytes went out.
  virtual bool sendAll(const void* data, int size) = 0;
  // Bytes received (at most `size`), 0 when nothing came within `wait`, -1
  // when the server closed the stream or it failed.
  virtual int receive(void* buffer, int size, std::chrono::milliseconds wait) = 0;
};

// Opens a transport to the server, or returns null.
using Connector = std::function<std::unique_ptr<Transport>()>;

// A TCP transport to address:port (host byte order), connected within `wait`.
std::unique_ptr<Transport> connectTcp(std::uint32_t address, std::uint16_t port,
                                      std::chrono::milliseconds wait);

// A transport over an existing local pipe ("\\.\pipe\NAME"); null when
// there is none (always on Linux).
std::unique_ptr<Transport> connectPipe(std::string_view name);

// Replaces how the client finds the server; an empty connector restores
// the default. Not for use while a connection is being opened.
void setConnector(Connector connector);

inline constexpr std::string_view kDefaultPipe = "\\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect";
inline constexpr std::uint16_t kDefaultPort = 500;
inline constexpr std::chrono::milliseconds kConnectWait{200};
inline constexpr std::chrono::milliseconds kOpenAnswerWait{1000};

// The packet the client opens a connection with (296 bytes): protocol 5,
// the MSFS 2020 SDK's version tuple, `name` in a 256-byte field.
inline constexpr int kOpenPacketSize = 296;
void buildOpenPacket(const char* name, std::uint8_t (&packet)[kOpenPacketSize]) noexcept;

// Fills *handle on success; on failure *handle is null. The window, user
// message, event and configuration index are accepted for the API's sake.
HRESULT SimConnect_Open(HANDLE* handle, const char* name, void* window, std::uint32_t userMessage,
                        void* eventHandle, std::uint32_t configIndex) noexcept;
// Releases the connection; the caller drops the handle.
HRESULT SimConnect_Close(HANDLE handle) noexcept;

}  // namespace tarvex::simconnect
