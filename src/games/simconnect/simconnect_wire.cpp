#include "games/simconnect/simconnect_wire.h"

#include <cstring>

namespace tarvex::simconnect {

namespace {

ClientHeader header(std::uint32_t size, std::uint32_t protocol, std::uint32_t function,
                    std::uint32_t sendId) noexcept {
  return ClientHeader{size, protocol, kPacketTypeBase | function, sendId};
}

// What the SDK of each protocol version puts into the Open's version fields.
struct OpenIdentity {
  std::uint8_t mark[4];
  std::uint32_t version[4];
};

OpenIdentity identityOf(std::uint32_t protocol) noexcept {
  switch (protocol) {
    case kProtocolFsx: return {{0x00, 'X', 'S', 'F'}, {10, 0, 61259, 0}};
    default: return {{0x00, 'H', 'K', 0x00}, {11, 0, 62651, 3}};
  }
}

}  // namespace

void putText(char* field, std::size_t size, const char* text) noexcept {
  std::memset(field, 0, size);
  if (text != nullptr && size > 0) std::memcpy(field, text, strnlen(text, size - 1));
}

OpenPacket openPacket(std::uint32_t protocol, const char* applicationName) noexcept {
  OpenPacket p;
  std::memset(&p, 0, sizeof p);
  p.header = header(sizeof p, protocol, kFunctionOpen, 1);
  putText(p.applicationName, sizeof p.applicationName, applicationName);
  const OpenIdentity identity = identityOf(protocol);
  std::memcpy(p.mark, identity.mark, sizeof p.mark);
  p.versionMajor = identity.version[0];
  p.versionMinor = identity.version[1];
  p.buildMajor = identity.version[2];
  p.buildMinor = identity.version[3];
  return p;
}

AddToDataDefinitionPacket addToDataDefinitionPacket(std::uint32_t protocol, std::uint32_t sendId,
                                                    std::uint32_t defineId, const char* datumName,
                                                    const char* unitsName, std::uint32_t datumType,
                                                    float epsilon, std::uint32_t datumId) noexcept {
  AddToDataDefinitionPacket p;
  std::memset(&p, 0, sizeof p);
  p.header = header(sizeof p, protocol, kFunctionAddToDataDefinition, sendId);
  p.defineId = defineId;
  putText(p.datumName, sizeof p.datumName, datumName);
  putText(p.unitsName, sizeof p.unitsName, unitsName);
  p.datumType = datumType;
  p.epsilon = epsilon;
  p.datumId = datumId;
  return p;
}

RequestDataOnSimObjectPacket requestDataOnSimObjectPacket(std::uint32_t protocol, std::uint32_t sendId,
                                                          std::uint32_t requestId, std::uint32_t defineId,
                                                          std::uint32_t objectId, std::uint32_t period,
                                                          std::uint32_t flags, std::uint32_t origin,
                                                          std::uint32_t interval,
                                                          std::uint32_t limit) noexcept {
  RequestDataOnSimObjectPacket p;
  p.header = header(sizeof p, protocol, kFunctionRequestDataOnSimObject, sendId);
  p.requestId = requestId;
  p.defineId = defineId;
  p.objectId = objectId;
  p.period = period;
  p.flags = flags;
  p.origin = origin;
  p.interval = interval;
  p.limit = limit;
  return p;
}

SubscribeToSystemEventPacket subscribeToSystemEventPacket(std::uint32_t protocol, std::uint32_t sendId,
                                                          std::uint32_t eventId,
                                                          const char* eventName) noexcept {
  SubscribeToSystemEventPacket p;
  std::memset(&p, 0, sizeof p);
  p.header = header(sizeof p, protocol, kFunctionSubscribeToSystemEvent, sendId);
  p.eventId = eventId;
  putText(p.eventName, sizeof p.eventName, eventName);
  return p;
}

MessageFramer::MessageFramer(std::uint32_t maxMessage) : max_(maxMessage < kMinimum ? kMinimum : maxMessage) {
  partial_.reserve(max_);
}

}  // namespace tarvex::simconnect
