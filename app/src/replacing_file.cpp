#include "replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "runtime/file_stream.h"
#include "runtime/strings.h"
#include "runtime/text_encoding.h"

namespace evaluator {
namespace {

namespace fs = std::filesystem;

// As many links as the system itself follows before it calls a chain a loop.
constexpr int LongestLinkChain = 40;
constexpr std::string_view TemporarySuffix = ".XXXXXX";

// A target that is a symbolic link keeps the link: the file it points to is replaced, or
// made when the link dangles. Empty for a chain of links that never ends.
std::string ResolvedTarget(std::string path) {
  for (int hops = 0; hops < LongestLinkChain; ++hops) {
    std::error_code error;
    const fs::path link(path);
    if (!fs::is_symlink(link, error)) return path;
    const fs::path pointsTo = fs::read_symlink(link, error);
    if (error) return path;
    path = pointsTo.is_absolute() ? pointsTo.string() : (link.parent_path() / pointsTo).string();
  }
  return {};
}

// Only a regular file (or nothing yet) can be replaced by the file written: a pipe or a
// device would be swapped for a plain file under its name.
std::u16string RefusalFor(const std::string& target) {
  struct stat status {};
  if (::stat(target.c_str(), &status) != 0 || S_ISREG(status.st_mode)) return {};
  if (S_ISDIR(status.st_mode)) return u"The name belongs to a folder, not to a file.";
  if (S_ISFIFO(status.st_mode)) return u"The name belongs to a pipe, not to a file.";
  if (S_ISSOCK(status.st_mode)) return u"The name belongs to a socket, not to a file.";
  return u"The name belongs to a device, not to a file.";
}

// The temporary file is named after the target so that a user who finds one left by a
// crash knows what it was; a long name is cut so that the suffix still fits.
std::string TemporaryPattern(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  constexpr std::size_t LongestName = NAME_MAX - TemporarySuffix.size();
  std::size_t nameEnd = target.size();
  if (nameEnd - nameStart > LongestName) {
    nameEnd = nameStart + LongestName;
    while (nameEnd > nameStart && IsUtf8Continuation(static_cast<unsigned char>(target[nameEnd]))) {
      --nameEnd;
    }
  }
  return target.substr(0, nameEnd) + std::string(TemporarySuffix);
}

// The permission bits of the file replaced, or those the process's umask gives a new file.
// Set-user-ID, set-group-ID and sticky bits are never passed on to what the export writes.
mode_t PermissionsFor(const std::string& target) {
  struct stat status {};
  if (::stat(target.c_str(), &status) == 0) return status.st_mode & 0777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::u16string SentenceFor(int error) {
  return Utf8ToUtf16(std::generic_category().message(error)) + u".";
}

std::atomic<FolderSync> folderSync{nullptr};

int SyncOpenFolder(int folder) {
  const FolderSync sync = folderSync.load();
  return sync ? sync(folder) : ::fsync(folder);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void SetFolderSync(FolderSync sync) { folderSync.store(sync); }

bool ReplacingFile::Open(const std::u16string& targetPath, ObjectNumber stream) {
  // A file-size limit must make a write fail, not end the program.
  std::signal(SIGXFSZ, SIG_IGN);
  stream_ = stream;
  targetPath_ = ResolvedTarget(Utf16ToUtf8(targetPath));
  if (targetPath_.empty()) {
    Fail(ELOOP);
    return false;
  }
  reason_ = RefusalFor(targetPath_);
  if (!reason_.empty()) return false;
  std::string pattern = TemporaryPattern(targetPath_);
  descriptor_ = ::mkstemp(pattern.data());
  if (descriptor_ < 0) return false;
  temporaryPath_ = pattern;
  open_ =
      ::fchmod(descriptor_, PermissionsFor(targetPath_)) == 0 &&
      (stream_ = CreateFileStream(stream, Utf8ToUtf16(ReopeningPath()).c_str(), FormatUtf8)) != 0;
  if (!open_) Discard();
  return open_;
}

void ReplacingFile::Write(const char16_t* text) {
  if (!open_ || failed_ || !text) return;
  const auto length = static_cast<std::size_t>(StringLength(text));
  const auto expected = static_cast<std::int64_t>(Utf8LengthOf(text, length));
  const std::int64_t written = StreamWriteText(stream_, text);
  bytesWritten_ += written;
  if (written != expected) Fail(StreamWriteError(stream_));
}

bool ReplacingFile::Commit() {
  if (!open_) return false;
  if (!failed_) {
    StreamLength(stream_);  // flushes what the stream still holds
    if (const int error = StreamWriteError(stream_); error != 0) Fail(error);
  }
  CloseFileStream(stream_);
  open_ = false;
  if (!failed_ && bytesWritten_ == 0) failed_ = true;
  if (!failed_ && ::fsync(descriptor_) != 0) Fail(errno);
  if (!failed_ && ::close(std::exchange(descriptor_, -1)) != 0) Fail(errno);
  if (!failed_ && ::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) Fail(errno);
  if (failed_) {
    Discard();
    return false;
  }
  temporaryPath_.clear();  // the name is the target's now
  SyncFolder();
  return !failed_;
}

// The rename lives in the folder: until the folder is on disk, a crash may bring back the
// old file, or no file at all where there was none.
void ReplacingFile::SyncFolder() {
  const int folder = ::open(FolderOf(targetPath_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A folder the user may write to but not read can't be synced by them; the file stands.
  if (folder < 0 && (errno == EACCES || errno == EPERM)) return;
  int error = folder < 0 ? errno : 0;
  if (folder >= 0) {
    // EINVAL: a file system that keeps no folders of its own to sync.
    if (SyncOpenFolder(folder) != 0 && errno != EINVAL) error = errno;
    ::close(folder);
  }
  if (error == 0) return;
  failed_ = true;
  reason_ =
      u"The file was written, but its folder could not be saved to disk, so a crash may "
      u"still lose it: " +
      SentenceFor(error);
}

std::string ReplacingFile::ReopeningPath() const {
  // The stream opens the file the descriptor holds, not whatever the temporary name is by
  // then: someone who may write in the folder could put a link in its place meanwhile.
  const std::string held = "/proc/self/fd/" + std::to_string(descriptor_);
  return ::access(held.c_str(), W_OK) == 0 ? held : temporaryPath_;
}

void ReplacingFile::Fail(int error) {
  failed_ = true;
  reason_ = error > 0 ? SentenceFor(error) : u"";
}

void ReplacingFile::Discard() {
  if (open_) CloseFileStream(stream_);
  open_ = false;
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
  if (!temporaryPath_.empty()) ::unlink(temporaryPath_.c_str());
  temporaryPath_.clear();
}

ReplacingFile::~ReplacingFile() { Discard(); }

}  // namespace evaluator
