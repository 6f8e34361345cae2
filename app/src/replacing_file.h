// Writes a file the way a careful editor saves one: into a temporary file beside the
// target, which replaces the target only once every byte is known to be on disk. A failed
// write leaves an existing target as it was and removes the temporary file.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/object_registry.h"

namespace evaluator {

class ReplacingFile {
 public:
  // Opens the temporary file as text stream `stream` (UTF-8). False when it can't be made.
  bool Open(const std::u16string& targetPath, ObjectNumber stream);
  // Appends text; a failure shows up in Commit.
  void Write(const char16_t* text);
  // Flushes, checks that every byte arrived, syncs and renames over the target.
  bool Commit();
  ~ReplacingFile();

 private:
  void Discard();

  ObjectNumber stream_ = 0;
  std::string targetPath_;
  std::string temporaryPath_;
  std::int64_t bytesWritten_ = 0;
  bool open_ = false;
};

}  // namespace evaluator
