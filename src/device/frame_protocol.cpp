#include "device/frame_protocol.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tarvex {

std::atomic<std::uint8_t> versionAtLeast328{0};

namespace {

// Reflected polynomial 0x8005, built at compile time so that no thread ever
// sees a half-built table.
constexpr std::array<std::uint16_t, 256> makeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned n = 0; n < 256; ++n) {
    std::uint16_t crc = static_cast<std::uint16_t>(n);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
    table[n] = crc;
  }
  return table;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = makeCrcTable();

constexpr std::uint16_t crcStep(std::uint16_t crc, std::uint8_t byte) {
  return static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFF]);
}

// Running a CRC register through n zero bytes is linear in the register:
// a 16x16 bit matrix. kZeroRuns[k] holds the matrix for 2^k zero bytes as
// the images of the 16 unit registers.
using BitMatrix = std::array<std::uint16_t, 16>;

constexpr std::uint16_t applyMatrix(const BitMatrix& m, std::uint16_t crc) {
  std::uint16_t out = 0;
  for (int bit = 0; bit < 16; ++bit)
    if ((crc >> bit) & 1) out = static_cast<std::uint16_t>(out ^ m[bit]);
  return out;
}

constexpr std::array<BitMatrix, 17> makeZeroRuns() {
  std::array<BitMatrix, 17> runs{};
  for (int bit = 0; bit < 16; ++bit) runs[0][bit] = crcStep(static_cast<std::uint16_t>(1u << bit), 0);
  for (int k = 1; k < 17; ++k)
    for (int bit = 0; bit < 16; ++bit)
      runs[k][bit] = applyMatrix(runs[k - 1], applyMatrix(runs[k - 1], static_cast<std::uint16_t>(1u << bit)));
  return runs;
}
constexpr std::array<BitMatrix, 17> kZeroRuns = makeZeroRuns();

// The register after `count` more zero bytes (count < 2^17).
std::uint16_t afterZeros(std::uint16_t crc, std::size_t count) noexcept {
  for (int k = 0; count != 0 && k < 17; ++k, count >>= 1)
    if (count & 1) crc = applyMatrix(kZeroRuns[k], crc);
  return crc;
}

std::uint16_t readUint16(const std::uint8_t* p) noexcept {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void putUint16(std::uint8_t* p, std::uint16_t value) noexcept {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

// True when the two bytes after the first `covered` bytes of the buffer
// hold their checksum.
bool checksumMatches(const ReceiveBuffer& buffer, std::size_t covered) noexcept {
  return readUint16(buffer.data() + covered) == buffer.checksum(0, covered);
}

bool endsInTerminator(const std::uint8_t* frame, std::size_t length) noexcept {
  return frame[length - 2] == kTerminator[0] && frame[length - 1] == kTerminator[1];
}

// Queues a copy of an accepted frame with the terminator in its last two bytes.
void deliver(MessageQueue& target, const std::uint8_t* frame, std::size_t length) {
  if (target.size() >= kReceiveQueueLimit) return;  // consumed and lost
  if (length <= MessageQueue::kInlineBytes) {
    // The usual device frame: copied on the stack, queued without allocating.
    std::array<std::uint8_t, MessageQueue::kInlineBytes> copy;
    std::memcpy(copy.data(), frame, length);
    copy[length - 2] = kTerminator[0];
    copy[length - 1] = kTerminator[1];
    target.pushBelow(kReceiveQueueLimit, copy.data(), length);
    return;
  }
  Message message(frame, frame + length);
  message[length - 2] = kTerminator[0];
  message[length - 1] = kTerminator[1];
  target.pushBelow(kReceiveQueueLimit, std::move(message));
}

void applyVersionRule(const std::uint8_t* frame) noexcept {
  if (frame[2] != 2 || versionAtLeast328.load() != 0) return;
  const int a = static_cast<std::int8_t>(frame[4]);
  const int b = static_cast<std::int8_t>(frame[5]);
  if (b * 100 + a >= 328) versionAtLeast328.store(1);
}

}  // namespace

std::uint16_t frameChecksum(const std::uint8_t* data, std::size_t length) noexcept {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < length; ++i) {
    crc = crcStep(crc, data[i]);
  }
  return crc;
}

// --- ReceiveBuffer -----------------------------------------------------------

void ReceiveBuffer::append(const std::uint8_t* data, std::size_t length) {
  if (length == 0) return;
  // Give the consumed front back before growing; each byte moves at most
  // once for every time the live part doubles, so appending stays linear.
  if (start_ > 0 && (start_ >= bytes_.size() / 2 || bytes_.size() + length > bytes_.capacity())) {
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(start_));
    running_.erase(running_.begin(), running_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  bytes_.insert(bytes_.end(), data, data + length);
  running_.reserve(bytes_.capacity() + 1);
  std::uint16_t crc = running_.back();
  for (std::size_t i = 0; i < length; ++i) {
    crc = crcStep(crc, data[i]);
    running_.push_back(crc);
  }
}

std::uint16_t ReceiveBuffer::checksum(std::size_t offset, std::size_t length) const noexcept {
  const std::size_t from = start_ + offset;
  // crc(A B) = crc(A) run through |B| zero bytes, xor crc(B).
  return static_cast<std::uint16_t>(running_[from + length] ^ afterZeros(running_[from], length));
}

void ReceiveBuffer::consume(std::size_t count) noexcept {
  start_ += std::min(count, size());
  if (start_ == bytes_.size()) clear();
}

void ReceiveBuffer::clear() noexcept {
  bytes_.clear();
  running_.assign(1, 0);
  start_ = 0;
}

// --- FragmentAssembly --------------------------------------------------------

void FragmentAssembly::reset() noexcept {
  id = 0;
  expectedCount = 0;
  receivedCount = 0;
  total = 0;
  std::vector<std::uint8_t>().swap(data);
  std::vector<std::uint8_t>().swap(received);
}

void FragmentAssembly::accept(const std::uint8_t* payload, std::size_t length) {
  if (target == nullptr || length < kFragmentHeader) return;
  if (readUint16(payload) != 0xF100) return;
  const std::uint16_t fragmentId = readUint16(payload + 2);
  const std::uint16_t index = readUint16(payload + 4);
  const std::uint16_t count = readUint16(payload + 6);
  const std::size_t dataLength = length - kFragmentHeader;
  const bool continues = id != 0 && id == fragmentId;
  // A fragment that does not fit the message it belongs to is ignored; it
  // neither starts a message nor discards the one in progress.
  if (dataLength > kFragmentData || index >= (continues ? expectedCount : count)) return;

  if (!continues) {
    reset();
    id = fragmentId;
    expectedCount = count;
    received.assign(count, 0);
  }
  if (received[index] == 0) {
    const std::size_t offset = static_cast<std::size_t>(index) * kFragmentData;
    if (data.size() < offset + dataLength) data.resize(offset + dataLength);
    if (dataLength > 0) std::memcpy(data.data() + offset, payload + kFragmentHeader, dataLength);
    received[index] = 1;
    ++receivedCount;
    if (index == count - 1) {
      total = static_cast<std::uint32_t>(static_cast<std::size_t>(count - 1) * kFragmentData + dataLength);
    }
  }
  if (receivedCount != expectedCount) return;

  const std::size_t size = total != 0 ? total : static_cast<std::size_t>(expectedCount) * kFragmentData;
  data.resize(size);  // fragments shorter than 500 bytes leave zeros
  Message message(size + 6);
  message[0] = 0xFA;
  message[1] = 0xFA;
  putUint16(&message[2], static_cast<std::uint16_t>(size));
  if (size > 0) std::memcpy(&message[4], data.data(), size);
  message[size + 4] = kTerminator[0];
  message[size + 5] = kTerminator[1];
  MessageQueue* queue = target;
  reset();
  queue->pushUnlimited(std::move(message));
}

// --- parseFrames ---------------------------------------------------------------

int parseFrames(ReceiveBuffer& buffer, MessageQueue& target, FragmentAssembly& assembly) {
  int recognised = 0;
  while (buffer.size() >= kShortestFrame) {
    const std::uint8_t* f = buffer.data();
    const std::size_t have = buffer.size();
    std::size_t taken = 0;  // bytes of an accepted frame
    if (f[0] == f[1]) {
      switch (f[0]) {
        case 0xF9:
          if (endsInTerminator(f, 8) || checksumMatches(buffer, 6)) {
            deliver(target, f, 8);
            applyVersionRule(f);
            taken = 8;
          }
          break;
        case 0xF8:
          if (have < 38) return recognised;
          if (endsInTerminator(f, 38) || checksumMatches(buffer, 36)) {
            deliver(target, f, 38);
            taken = 38;
          }
          break;
        case 0xFB:
          if (have < 78) return recognised;
          if (checksumMatches(buffer, 76)) {
            deliver(target, f, 78);
            taken = 78;
          }
          break;
        case 0xFE:
        case 0xFA: {
          const std::size_t length = readUint16(f + 2) + std::size_t{6};
          if (have < length) return recognised;
          if (checksumMatches(buffer, length - 2)) {
            if (f[0] == 0xFE) {
              deliver(target, f, length);
            } else {
              assembly.accept(f + 4, length - 6);
            }
            taken = length;
          }
          break;
        }
        default:
          break;
      }
    }
    if (taken > 0) {
      buffer.consume(taken);
      recognised = 1;
    } else {
      buffer.consume(1);
    }
  }
  return recognised;
}

// --- writeMessage --------------------------------------------------------------

void writeMessage(FrameWriter& writer, const std::uint8_t* message, std::size_t length) {
  if (length < kFragmentThreshold || message[0] != 0xFA || message[1] != 0xFA) {
    writer.write(writer.sink, message, length);
    return;
  }
  const std::uint8_t* payload = message + 4;
  const std::size_t size = length - 6;
  if (size > kLargestFragmentedData) return;
  // Id 0 means "no message" to a receiver; a wrapped counter skips it.
  if ((writer.counter & 0xFFFF) == 0) ++writer.counter;
  const auto id = static_cast<std::uint16_t>(writer.counter++);
  const auto count = static_cast<std::uint16_t>((size + kFragmentData - 1) / kFragmentData);
  std::uint8_t frame[4 + kFragmentHeader + kFragmentData + 2];
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::size_t offset = static_cast<std::size_t>(i) * kFragmentData;
    const std::size_t dataLength = std::min(kFragmentData, size - offset);
    frame[0] = 0xFA;
    frame[1] = 0xFA;
    putUint16(frame + 2, static_cast<std::uint16_t>(dataLength + kFragmentHeader));
    putUint16(frame + 4, 0xF100);
    putUint16(frame + 6, id);
    putUint16(frame + 8, i);
    putUint16(frame + 10, count);
    std::memcpy(frame + 12, payload + offset, dataLength);
    const std::size_t covered = 12 + dataLength;
    putUint16(frame + covered, frameChecksum(frame, covered));
    writer.write(writer.sink, frame, covered + 2);
  }
}

}  // namespace tarvex
