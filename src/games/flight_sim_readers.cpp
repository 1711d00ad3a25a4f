#include "games/flight_sim_readers.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "games/gravity_split.h"

namespace tarvex {

namespace {


// The datagram's text: up to its first NUL, never past its end.
std::string_view datagramText(const std::uint8_t* data, int size) noexcept {
  const char* text = reinterpret_cast<const char*>(data);
  const void* nul = std::memchr(text, '\0', static_cast<std::size_t>(size));
  const std::size_t length =
      nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - text)
                     : static_cast<std::size_t>(size);
  return {text, length};
}

// The leading decimal number of `text` (an optional sign, digits, a point,
// an exponent). Text that does not start with a number, and numbers a
// double cannot hold, read 0: a stray word in the stream must not become
// an infinite or undefined motion value.
template <class Number>
Number leadingNumber(std::string_view text) noexcept {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  Number value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value,
                                      std::chars_format::general);
  if (result.ec != std::errc() || !std::isfinite(value)) return 0;
  return value;
}

float floatAt(const std::uint8_t* p) noexcept {
  const std::uint32_t bits = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                             static_cast<std::uint32_t>(p[2]) << 16 |
                             static_cast<std::uint32_t>(p[3]) << 24;
  return std::bit_cast<float>(bits);
}

}  // namespace

// --- X-Plane ------------------------------------------------------------------

bool XPlaneReader::detect() {
  // The probe comes first: an X-Plane that does not send is not looked for.
  return receiver.probe(port) == 1 && processes_->running(kProcess);
}

int XPlaneReader::consume(const std::uint8_t* data, int size, GameDataRecord& record) noexcept {
  if (data == nullptr || size < kMinimumBytes) return 0;
  lapFrame(record);
  double* c = record.channels;
  const int records = (size - kHeaderBytes) / kRecordBytes;
  for (int k = 0; k < records; ++k) {
    const std::uint8_t* r = data + kHeaderBytes + kRecordBytes * k;
    const std::uint8_t group = r[0];  // only the lowest byte of the index counts
    auto v = [r](int i) { return static_cast<double>(floatAt(r + 4 * i)); };  // value i, 1..8
    switch (group) {
      case 3:
        c[channel::speed] = v(8);
        break;
      case 17:
      case 127:
        c[channel::pitch_position] = v(1);
        c[channel::roll_position] = v(2);
        c[channel::yaw_position] = -v(3);
        break;
      case 66:
        c[channel::fr_lft_susp_pos] = v(1);
        c[channel::fr_rgt_susp_pos] = v(1);
        c[channel::re_rgt_susp_pos] = v(2);
        c[channel::re_lft_susp_pos] = v(3);
        groundContact = c[channel::fr_lft_susp_pos] > 0.0 && c[channel::re_rgt_susp_pos] > 0.0 &&
                                c[channel::re_lft_susp_pos] > 0.0
                            ? 1
                            : 0;
        break;
      case 135:
        c[channel::lateral_accel_g] = v(1);
        c[channel::longitu_accel_g] = -v(3);
        c[channel::vertica_accel_g] = v(2) / 10.0;
        c[channel::roll_speed] = v(4);
        c[channel::pitch_speed] = v(5);
        c[channel::yaw_speed] = -v(6);
        break;
      default:
        break;
    }
  }
  splitGravityFromLoads(record);
  return 1;
}

// --- DCS ----------------------------------------------------------------------

bool DcsReader::detect() {
  if (processes_->running(kProcess)) return receiver.probe(port) == 1;
  return processes_->running(kProcess64) && receiver.probe(port) == 1;
}

std::array<double, DcsReader::kFieldCount> DcsReader::parseFields(std::string_view text) noexcept {
  std::array<double, kFieldCount> fields{};
  for (double& field : fields) {
    std::string_view value;
    std::size_t taken = 0;  // the field and the one character that ends it
    const std::size_t space = text.find(' ');
    if (space != std::string_view::npos) {
      value = text.substr(0, space);
      taken = space + 1;
    } else {
      // The last field: the run of characters from ' ' to ';' (digits,
      // signs, the point), which something else must end, e.g. the newline.
      std::size_t run = 0;
      while (run < text.size() && text[run] >= 32 && text[run] <= 59) ++run;
      if (run == text.size()) {
        field = 0.0;  // not ended: the text stays where it is
        continue;
      }
      value = text.substr(0, run);
      taken = run + 1;
    }
    // The export script writes at least six characters per number; anything
    // shorter is no field, and the text stays where it is.
    if (value.size() < 6) {
      field = 0.0;
      continue;
    }
    field = leadingNumber<double>(value);
    text.remove_prefix(taken);
  }
  return fields;
}

int DcsReader::consume(const std::uint8_t* data, int size, GameDataRecord& record) noexcept {
  if (data == nullptr || size < kMinimumBytes) return 0;
  lapFrame(record);
  const std::array<double, kFieldCount> f = parseFields(datagramText(data, size));
  double* c = record.channels;
  c[channel::longitu_accel_g] = f[0] * kStandardGravity;
  c[channel::lateral_accel_g] = f[1] * kStandardGravity;
  c[channel::vertica_accel_g] = f[2] * kStandardGravity;
  c[channel::lateral_speed] = f[3];
  c[channel::longitu_speed] = f[4];
  c[channel::vertica_speed] = f[5];
  c[channel::yaw_speed] = degrees(f[6]);
  c[channel::roll_speed] = degrees(f[7]);
  c[channel::pitch_speed] = degrees(f[8]);
  c[channel::yaw_position] = degrees(f[9]);
  c[channel::roll_position] = degrees(f[10]);
  c[channel::pitch_position] = degrees(f[11]);
  c[channel::fr_lft_susp_pos] = f[13];
  c[channel::re_lft_susp_pos] = f[15];
  const double modelTime = f[24];
  record.gameStepMs = (modelTime - record.gameTimeS) * 1000.0;
  record.gameTimeS = modelTime;
  splitGravityFromLoads(record);
  return 1;
}

// --- Condor 2 -----------------------------------------------------------------

namespace {

constexpr std::array<std::string_view, CondorValues::kFloatCount> kCondorKeys = {
    "time",       "slipball",    "altitude",    "vario",      "evario",
    "nettovario", "integrator",  "compass",     "turnrate",   "yawstringangle",
    "radiofrequency", "yaw",     "pitch",       "bank",       "quaternionx",
    "quaterniony", "quaternionz", "ax",         "ay",         "az",
    "vx",         "vy",          "vz",          "rollrate",   "pitchrate",
    "yawrate",    "gforce",      "height",      "wheelheight", "turbulencestrength",
    "surfaceroughness"};

int condorIndex(std::string_view key) noexcept {
  for (int i = 0; i < CondorValues::kFloatCount; ++i) {
    if (kCondorKeys[i] == key) return i;
  }
  return -1;
}

}  // namespace

bool CondorValues::set(std::string_view key, std::string_view value) {
  const int i = condorIndex(key);
  if (i >= 0) {
    values[i] = leadingNumber<float>(value);
  } else if (key == "hudmessages") {
    hudmessages.assign(value);
  } else if (key == "flaps") {
    const double v = std::trunc(leadingNumber<double>(value));
    flaps = v >= std::numeric_limits<std::int32_t>::max()   ? std::numeric_limits<std::int32_t>::max()
            : v <= std::numeric_limits<std::int32_t>::min() ? std::numeric_limits<std::int32_t>::min()
                                                             : static_cast<std::int32_t>(v);
  } else if (key == "mc") {
    mc = leadingNumber<float>(value);
  } else if (key == "water") {
    water = leadingNumber<float>(value);
  } else {
    return false;
  }
  return true;
}

float CondorValues::get(std::string_view key) const noexcept {
  const int i = condorIndex(key);
  return i >= 0 ? values[i] : 0.0f;
}

int Condor2Reader::consume(const std::uint8_t* data, int size, GameDataRecord& record) noexcept {
  if (data == nullptr || size < kMinimumBytes) return 0;
  lapFrame(record);
  std::string_view text = datagramText(data, size);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    // Condor ends its lines with CR LF; the CR is no part of the value.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    try {
      condor.set(line.substr(0, equals), line.substr(equals + 1));
    } catch (...) {
      // No memory for the HUD text: it keeps its last value.
    }
  }
  double* c = record.channels;
  c[channel::pitch_position] = degrees(condor.get("pitch"));
  c[channel::roll_position] = -(degrees(condor.get("bank")));
  c[channel::yaw_position] = degrees(condor.get("yaw")) - 180.0;
  c[channel::lateral_accel] = condor.get("ax");
  c[channel::longitu_accel] = condor.get("ay");
  c[channel::vertica_accel] = condor.get("az");
  c[channel::lateral_speed] = condor.get("vx");
  c[channel::longitu_speed] = condor.get("vy");
  c[channel::vertica_speed] = condor.get("vz");
  c[channel::roll_speed] = degrees(condor.get("rollrate"));
  c[channel::pitch_speed] = degrees(condor.get("pitchrate"));
  c[channel::yaw_speed] = degrees(condor.get("yawrate"));
  splitGravityIntoLoads(record);
  return 1;
}

}  // namespace tarvex
