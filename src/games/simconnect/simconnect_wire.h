// The SimConnect wire protocol: the packets our client sends, the messages
// the simulator's server sends back, and the framing that cuts a byte
// stream into messages.
//
// Both directions are little-endian and unpadded; every packet starts with
// its whole size as a 32-bit word. Client packets carry a 16-byte header
// (size, protocol version, 0xF0000000 | function, send id), server messages
// a 12-byte one (size, version, message id). Text fields are fixed-size and
// NUL-padded; a longer text is cut so that its NUL stays.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvex::simconnect {

static_assert(std::endian::native == std::endian::little,
              "the layouts below are copied to and from the wire as they lie in memory");

// Protocol versions a client can speak: FSX SP2 (which MSFS 2020 and 2024
// still accept) and MSFS 2020, which both simulators accept.
inline constexpr std::uint32_t kProtocolFsx = 4;
inline constexpr std::uint32_t kProtocolMsfs2020 = 5;
inline constexpr std::uint32_t kProtocolMsfs2024 = 6;

// Function numbers of the client packets (low bits of the type word).
inline constexpr std::uint32_t kPacketTypeBase = 0xF0000000u;
inline constexpr std::uint32_t kFunctionOpen = 0x01;
inline constexpr std::uint32_t kFunctionAddToDataDefinition = 0x0C;
inline constexpr std::uint32_t kFunctionRequestDataOnSimObject = 0x0E;
inline constexpr std::uint32_t kFunctionSubscribeToSystemEvent = 0x17;

// Server message ids.
inline constexpr std::uint32_t kRecvNull = 0;
inline constexpr std::uint32_t kRecvException = 1;
inline constexpr std::uint32_t kRecvOpen = 2;
inline constexpr std::uint32_t kRecvQuit = 3;
inline constexpr std::uint32_t kRecvEvent = 4;
inline constexpr std::uint32_t kRecvSimObjectData = 8;

inline constexpr std::uint32_t kExceptionVersionMismatch = 5;
inline constexpr std::uint32_t kUnused = 0xFFFFFFFFu;  // no datum id, unknown group
inline constexpr std::size_t kNameField = 256;

struct ClientHeader {
  std::uint32_t size;
  std::uint32_t version;
  std::uint32_t type;
  std::uint32_t sendId;
};
static_assert(sizeof(ClientHeader) == 16);
static_assert(offsetof(ClientHeader, version) == 4 && offsetof(ClientHeader, type) == 8 &&
              offsetof(ClientHeader, sendId) == 12);

struct OpenPacket {
  ClientHeader header;
  char applicationName[kNameField];
  std::uint32_t reserved;
  std::uint8_t mark[4];  // which client family speaks
  std::uint32_t versionMajor;
  std::uint32_t versionMinor;
  std::uint32_t buildMajor;
  std::uint32_t buildMinor;
};
static_assert(sizeof(OpenPacket) == 296);
static_assert(offsetof(OpenPacket, applicationName) == 16 && offsetof(OpenPacket, reserved) == 272 &&
              offsetof(OpenPacket, mark) == 276 && offsetof(OpenPacket, versionMajor) == 280 &&
              offsetof(OpenPacket, versionMinor) == 284 && offsetof(OpenPacket, buildMajor) == 288 &&
              offsetof(OpenPacket, buildMinor) == 292);

struct AddToDataDefinitionPacket {
  ClientHeader header;
  std::uint32_t defineId;
  char datumName[kNameField];
  char unitsName[kNameField];
  std::uint32_t datumType;
  float epsilon;
  std::uint32_t datumId;
};
static_assert(sizeof(AddToDataDefinitionPacket) == 544);
static_assert(offsetof(AddToDataDefinitionPacket, defineId) == 16 &&
              offsetof(AddToDataDefinitionPacket, datumName) == 20 &&
              offsetof(AddToDataDefinitionPacket, unitsName) == 276 &&
              offsetof(AddToDataDefinitionPacket, datumType) == 532 &&
              offsetof(AddToDataDefinitionPacket, epsilon) == 536 &&
              offsetof(AddToDataDefinitionPacket, datumId) == 540);

struct RequestDataOnSimObjectPacket {
  ClientHeader header;
  std::uint32_t requestId;
  std::uint32_t defineId;
  std::uint32_t objectId;
  std::uint32_t period;
  std::uint32_t flags;
  std::uint32_t origin;
  std::uint32_t interval;
  std::uint32_t limit;
};
static_assert(sizeof(RequestDataOnSimObjectPacket) == 48);
static_assert(offsetof(RequestDataOnSimObjectPacket, requestId) == 16 &&
              offsetof(RequestDataOnSimObjectPacket, objectId) == 24 &&
              offsetof(RequestDataOnSimObjectPacket, period) == 28 &&
              offsetof(RequestDataOnSimObjectPacket, limit) == 44);

struct SubscribeToSystemEventPacket {
  ClientHeader header;
  std::uint32_t eventId;
  char eventName[kNameField];
};
static_assert(sizeof(SubscribeToSystemEventPacket) == 276);
static_assert(offsetof(SubscribeToSystemEventPacket, eventId) == 16 &&
              offsetof(SubscribeToSystemEventPacket, eventName) == 20);

// --- server messages --------------------------------------------------------

struct RecvHeader {
  std::uint32_t size;
  std::uint32_t version;
  std::uint32_t id;
};
static_assert(sizeof(RecvHeader) == 12);
static_assert(offsetof(RecvHeader, version) == 4 && offsetof(RecvHeader, id) == 8);

struct RecvException {
  RecvHeader header;
  std::uint32_t exception;
  std::uint32_t sendId;
  std::uint32_t index;
};
static_assert(sizeof(RecvException) == 24);
static_assert(offsetof(RecvException, exception) == 12 && offsetof(RecvException, sendId) == 16 &&
              offsetof(RecvException, index) == 20);

struct RecvOpen {
  RecvHeader header;
  char applicationName[kNameField];
  std::uint32_t applicationVersion[4];  // major, minor, build major, build minor
  std::uint32_t simConnectVersion[4];
  std::uint32_t reserved[2];
};
static_assert(sizeof(RecvOpen) == 308);
static_assert(offsetof(RecvOpen, applicationName) == 12 && offsetof(RecvOpen, applicationVersion) == 268 &&
              offsetof(RecvOpen, simConnectVersion) == 284 && offsetof(RecvOpen, reserved) == 300);

struct RecvEvent {
  RecvHeader header;
  std::uint32_t groupId;
  std::uint32_t eventId;
  std::uint32_t data;
};
static_assert(sizeof(RecvEvent) == 24);
static_assert(offsetof(RecvEvent, groupId) == 12 && offsetof(RecvEvent, eventId) == 16 &&
              offsetof(RecvEvent, data) == 20);

// Followed by the data block: the datums in the order they were added to
// the definition, each at its own size, unpadded.
struct RecvSimObjectData {
  RecvHeader header;
  std::uint32_t requestId;
  std::uint32_t objectId;
  std::uint32_t defineId;
  std::uint32_t flags;
  std::uint32_t entryNumber;
  std::uint32_t outOf;
  std::uint32_t defineCount;
};
static_assert(sizeof(RecvSimObjectData) == 40);
static_assert(offsetof(RecvSimObjectData, requestId) == 12 && offsetof(RecvSimObjectData, objectId) == 16 &&
              offsetof(RecvSimObjectData, defineId) == 20 && offsetof(RecvSimObjectData, flags) == 24 &&
              offsetof(RecvSimObjectData, entryNumber) == 28 && offsetof(RecvSimObjectData, outOf) == 32 &&
              offsetof(RecvSimObjectData, defineCount) == 36);

// --- building the client's packets --------------------------------------------

// Copies `text` into a NUL-padded field of `size` bytes, cut to size - 1
// characters (null: an empty field).
void putText(char* field, std::size_t size, const char* text) noexcept;

// The Open packet for protocol 4 or 5, send id 1, with the version numbers
// and mark the SDK of that version sends.
OpenPacket openPacket(std::uint32_t protocol, const char* applicationName) noexcept;
AddToDataDefinitionPacket addToDataDefinitionPacket(std::uint32_t protocol, std::uint32_t sendId,
                                                    std::uint32_t defineId, const char* datumName,
                                                    const char* unitsName, std::uint32_t datumType,
                                                    float epsilon, std::uint32_t datumId) noexcept;
RequestDataOnSimObjectPacket requestDataOnSimObjectPacket(std::uint32_t protocol, std::uint32_t sendId,
                                                          std::uint32_t requestId, std::uint32_t defineId,
                                                          std::uint32_t objectId, std::uint32_t period,
                                                          std::uint32_t flags, std::uint32_t origin,
                                                          std::uint32_t interval,
                                                          std::uint32_t limit) noexcept;
SubscribeToSystemEventPacket subscribeToSystemEventPacket(std::uint32_t protocol, std::uint32_t sendId,
                                                          std::uint32_t eventId,
                                                          const char* eventName) noexcept;

// --- framing ----------------------------------------------------------------

// Cuts a stream of server bytes into whole messages by their size word.
//
// A message of `maxMessage` bytes or fewer is handed out whole. A larger
// one is reported by its declared size and skipped without being stored:
// the stream goes on after it. A size below the 12-byte header cannot be
// skipped (nothing says where the next message starts): the stream is
// broken, and everything after it is ignored.
class MessageFramer {
 public:
  static constexpr std::uint32_t kMinimum = sizeof(RecvHeader);

  enum class Cut { message, oversized, broken };

  explicit MessageFramer(std::uint32_t maxMessage);

  // Feeds `size` bytes; calls sink(Cut, const std::uint8_t* message,
  // std::uint32_t size) for each message found (the pointer is valid for
  // the call; null for oversized and broken, with the declared size).
  template <class Sink>
  void feed(const std::uint8_t* data, std::size_t size, Sink&& sink);

  bool broken() const noexcept { return broken_; }
  std::uint32_t maxMessage() const noexcept { return max_; }

 private:
  std::uint32_t max_;
  std::vector<std::uint8_t> partial_;  // the message being gathered
  std::uint32_t expected_ = 0;         // its size, once its size word is in
  std::uint32_t skipping_ = 0;         // bytes of an oversized message left
  bool broken_ = false;
};

template <class Sink>
void MessageFramer::feed(const std::uint8_t* data, std::size_t size, Sink&& sink) {
  while (size > 0 && !broken_) {
    if (skipping_ > 0) {
      const std::size_t n = size < skipping_ ? size : skipping_;
      skipping_ -= static_cast<std::uint32_t>(n);
      data += n;
      size -= n;
      continue;
    }
    if (expected_ == 0) {
      // The size word, possibly in pieces.
      const std::size_t n = size < 4 - partial_.size() ? size : 4 - partial_.size();
      partial_.insert(partial_.end(), data, data + n);
      data += n;
      size -= n;
      if (partial_.size() < 4) return;
      const std::uint32_t declared = static_cast<std::uint32_t>(partial_[0]) |
                                     static_cast<std::uint32_t>(partial_[1]) << 8 |
                                     static_cast<std::uint32_t>(partial_[2]) << 16 |
                                     static_cast<std::uint32_t>(partial_[3]) << 24;
      if (declared < kMinimum) {
        broken_ = true;
        partial_.clear();
        sink(Cut::broken, nullptr, declared);
        return;
      }
      if (declared > max_) {
        partial_.clear();
        skipping_ = declared - 4;
        sink(Cut::oversized, nullptr, declared);
        continue;
      }
      expected_ = declared;
    }
    const std::size_t wanted = expected_ - partial_.size();
    const std::size_t n = size < wanted ? size : wanted;
    partial_.insert(partial_.end(), data, data + n);
    data += n;
    size -= n;
    if (partial_.size() == expected_) {
      const std::uint32_t whole = expected_;
      expected_ = 0;
      sink(Cut::message, partial_.data(), whole);
      partial_.clear();
    }
  }
}

}  // namespace tarvex::simconnect
