#include "replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <system_error>

#include "runtime/file_stream.h"
#include "runtime/text_encoding.h"

namespace evaluator {
namespace {

// A target that is a symbolic link keeps the link: the file it points to is replaced.
std::string ResolvedTarget(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  return error ? path : resolved.string();
}

// The permissions a new file gets from the process's umask, or those of the file replaced.
mode_t PermissionsFor(const std::string& target) {
  struct stat status {};
  if (::stat(target.c_str(), &status) == 0) return status.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool SyncToDisk(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool synced = ::fsync(descriptor) == 0;
  ::close(descriptor);
  return synced;
}

}  // namespace

bool ReplacingFile::Open(const std::u16string& targetPath, ObjectNumber stream) {
  // A file-size limit must make a write fail, not end the program.
  std::signal(SIGXFSZ, SIG_IGN);
  stream_ = stream;
  targetPath_ = ResolvedTarget(Utf16ToUtf8(targetPath));
  std::string pattern = targetPath_ + ".XXXXXX";
  const int descriptor = ::mkstemp(pattern.data());
  if (descriptor < 0) return false;
  temporaryPath_ = pattern;
  const bool permitted = ::fchmod(descriptor, PermissionsFor(targetPath_)) == 0;
  ::close(descriptor);
  open_ = permitted && CreateFileStream(stream_, Utf8ToUtf16(temporaryPath_).c_str(), FormatUtf8) != 0;
  if (!open_) Discard();
  return open_;
}

void ReplacingFile::Write(const char16_t* text) {
  if (open_) bytesWritten_ += StreamWriteText(stream_, text);
}

bool ReplacingFile::Commit() {
  if (!open_) return false;
  const bool complete = StreamLength(stream_) == bytesWritten_ && bytesWritten_ > 0;
  CloseFileStream(stream_);
  open_ = false;
  if (!complete || !SyncToDisk(temporaryPath_) ||
      ::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
    Discard();
    return false;
  }
  temporaryPath_.clear();
  return true;
}

void ReplacingFile::Discard() {
  if (open_) CloseFileStream(stream_);
  open_ = false;
  if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
  temporaryPath_.clear();
}

ReplacingFile::~ReplacingFile() { Discard(); }

}  // namespace evaluator
