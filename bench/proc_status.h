// Memory figures of the running benchmark process, as the kernel counts them.
#pragma once

#include <malloc.h>

#include <fstream>
#include <string>

// A field of /proc/self/status in KiB (VmRSS: resident now, VmHWM: its peak), or -1.
inline long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  }
  return -1;
}

// Starts VmHWM again from the current resident size, so that a later peak belongs to the
// work done after this call. False where the kernel does not offer it.
inline bool ResetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  return static_cast<bool>(clear.flush());
}

// The C heap's own view, in KiB, summed over its arenas: memory handed out and not freed
// (in_use), and memory freed but still held by the heap (held_free).
struct HeapKiB {
  long inUse;
  long heldFree;
};

inline HeapKiB HeapFigures() {
  const struct mallinfo2 info = mallinfo2();
  return {static_cast<long>((info.uordblks + info.hblkhd) / 1024),
          static_cast<long>(info.fordblks / 1024)};
}
