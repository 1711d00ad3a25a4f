#include "games/detection_entries.h"

namespace tarvex {

bool MsfsDetection::detect() {
  dropConnection();
  if (simconnect::SimConnect_Open(&connection_, kClientName, nullptr, 0, nullptr, 0) < 0) {
    connection_ = nullptr;
    return false;
  }
  const char* process = game_ == GameId::Msfs2024 ? kProcess2024 : kProcess2020;
  if (processes_->running(process)) return true;
  dropConnection();
  return false;
}

void MsfsDetection::dropConnection() noexcept {
  if (connection_ != nullptr) simconnect::SimConnect_Close(connection_);
  connection_ = nullptr;
}

}  // namespace tarvex
