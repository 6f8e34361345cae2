// Writes a file the way a careful editor saves one: into a temporary file beside the
// target, which replaces the target only once every byte is known to be on disk. A failed
// write leaves an existing target as it was and removes the temporary file.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/object_registry.h"

namespace evaluator {

// Syncs an open folder as fsync does: 0, or -1 with errno. Tests put a stand-in here to see
// when the folder is synced and to fail the sync as a failing disk would.
using FolderSync = int (*)(int folder);
void SetFolderSync(FolderSync sync);  // null for fsync

class ReplacingFile {
 public:
  ReplacingFile() = default;
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile();

  // Opens the temporary file as text stream `stream` (UTF-8; AnyHandle for a number of its
  // own, which the file then owns). False when it can't be made.
  bool Open(const std::u16string& targetPath, ObjectNumber stream);
  // Appends text; a failure shows up in Commit, and nothing more is written after it.
  void Write(const char16_t* text);
  // Gives the file up for error (an errno value): Commit then fails with its reason and
  // leaves the target as it was.
  void Abandon(int error) { Fail(error); }
  // Flushes, checks that every byte arrived, syncs, renames over the target and syncs the
  // folder, so that the new name survives a crash as well as the data.
  bool Commit();
  // Why Open or Commit failed, as a sentence for the user; empty when there is no more to
  // say than that it failed.
  [[nodiscard]] const std::u16string& Reason() const { return reason_; }

 private:
  [[nodiscard]] std::string ReopeningPath() const;
  void Fail(int error);
  void SyncFolder();
  void Discard();

  ObjectNumber stream_ = 0;
  std::string targetPath_;
  std::string temporaryPath_;
  // The temporary file as made, kept open so that its data is synced through a descriptor
  // that was open while it was written, and so sees every write-back error.
  int descriptor_ = -1;
  std::int64_t bytesWritten_ = 0;
  bool open_ = false;
  bool failed_ = false;
  std::u16string reason_;
};

}  // namespace evaluator
