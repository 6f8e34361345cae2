// File streams: numbered objects over files, each with an optional 4096-byte buffer for
// its pending writes. Texts are read and written in UTF-8, with no byte-order mark written
// or recognised.
//
// One stream is used by one thread at a time. Operations that change the file table or a
// stream run inside a SharedChangeScope, and long reads stop at StopPoint between chunks,
// so a worker that was told to stop leaves every stream in a consistent state.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "runtime/object_registry.h"
#include "runtime/text_encoding.h"

// The text format: the low 5 bits of a flags argument. UTF-8 is the only one there is;
// a flags argument may name it or leave the bits 0.
inline constexpr std::int32_t FormatUtf8 = 2;
inline constexpr std::int32_t FormatMask = 0x1F;

// Open flags, combined with the format. There are no share modes on this system: the two
// share flags are accepted and have no effect.
inline constexpr std::int32_t ShareRead = 0x20000;
inline constexpr std::int32_t ShareAll = 0x40000;
inline constexpr std::int32_t NoBuffer = 0x80000;

inline constexpr std::int32_t StreamBufferSize = 4096;

// Start-up and shut-down of the file library (the table is also made on first use);
// FileStreamEnd closes every open stream, flushing pending writes.
void FileStreamInit();
void FileStreamEnd();

// Each returns 0 on failure; otherwise the file descriptor for a static number, or the
// stream handle for AnyHandle. A number that names an open stream closes it first.
[[nodiscard]] ObjectNumber OpenFileRead(ObjectNumber number, const char16_t* path,
                                        std::int32_t flags);
[[nodiscard]] ObjectNumber CreateFileStream(ObjectNumber number, const char16_t* path,
                                            std::int32_t flags);

// Reading a whole stream for a caller that must know why the text ended, and that must
// not be held up by the stream: the read waits for data in short steps and ends the
// calling thread at a stop request meanwhile (a FIFO nobody writes to, a slow device),
// and holds no SharedChangeScope while it waits.
//
// What a whole read has done so far, for another thread to show (relaxed loads suffice:
// each figure stands alone).
struct ReadProgress {
  std::atomic<std::int64_t> bytesRead{0};
  std::atomic<std::int64_t> bytesTotal{-1};  // the bytes the file holds; -1 while unknown
};

struct WholeReadLimits {
  // The memory the caller needs in all for each byte of the text, the read bytes
  // included. The read checks it before it starts (for the file's size when that is
  // known) and every few MiB while it goes on.
  std::int64_t memoryPerByte = 1;
  // The memory the text may take in all; -1 for what the system has available at each
  // check (with the bytes already read counted as available to the read).
  std::int64_t memoryBudget = -1;
  // The longest text, in bytes of the file, that the caller can take.
  std::int64_t longestText = INT64_MAX;
  // false: a zero unit is a character of the text like any other, and only the end of the
  // file ends the read.
  bool zeroEndsText = true;
  // Where the read publishes its progress, once per chunk; null for nowhere.
  ReadProgress* progress = nullptr;
};

enum class WholeReadEnd {
  Complete,     // the end of the file or a zero unit
  NotOpen,      // the number names no open stream
  ReadError,    // the system refused a read
  OutOfMemory,  // the text would need more memory than there is
  TooLong,      // the text is longer than longestText
};

struct WholeText {
  WholeReadEnd end = WholeReadEnd::NotOpen;
  SharedUtf8 utf8;                   // only with Complete
  std::int64_t bytesRead = 0;        // bytes taken from the file
  std::int64_t fileSize = -1;        // the size the file reported, -1 when it has none
  std::int64_t memoryNeeded = 0;     // with OutOfMemory
  std::int64_t memoryAvailable = 0;  // with OutOfMemory
  int error = 0;                     // with ReadError: the system's error number
  // UTF-8 that is no text: how many places (a byte that can't begin a sequence, read as
  // "?"; an invalid sequence, which decoding reads as U+FFFD; a sequence cut short by the
  // end of the file, left out) and the byte offset of the first one from where the read
  // began, -1 for none.
  std::int64_t unreadablePlaces = 0;
  std::int64_t firstUnreadableAt = -1;
  // With zeroEndsText false: the zero bytes of the text and the offset of the
  // first, -1 for none.
  std::int64_t zeroBytes = 0;
  std::int64_t firstZeroAt = -1;
};

// The rest of the stream, within limits, from the stream's position (pending writes are
// flushed first): the text ends at the end of the file or, with zeroEndsText, at a zero
// byte, which is consumed. The text is handed over as the bytes read, undecoded (so it may
// hold invalid sequences), except that a byte that can't start a sequence reads as "?"; a
// sequence cut short by the end of the file is left out. flags: the format, as at opening.
[[nodiscard]] WholeText StreamReadWholeUtf8(ObjectNumber number, std::int32_t flags,
                                            const WholeReadLimits& limits);

// The memory the process can still take without swapping or being killed, in bytes: the
// smaller of what the machine has available (MemAvailable) and the room left under the
// memory limit of each control group the process is in, its own and every one above it
// (cgroup v2, and the v1 memory controller), where the group's page cache that the kernel
// drops first counts as room. -1 when none of it can be told.
std::int64_t AvailableSystemMemory();
// Where AvailableSystemMemory reads: a folder laid out as /proc (meminfo, self/cgroup) and
// one laid out as /sys/fs/cgroup. Null or empty for the system's own.
void SetMemoryInfoRoots(const char* proc, const char* cgroup);

// Writes text as UTF-8, without terminator or line end; returns the bytes written or
// buffered.
std::int32_t StreamWriteText(ObjectNumber number, const char16_t* text);

// The file's size in bytes after pending writes are flushed; -1 for an invalid stream.
std::int64_t StreamLength(ObjectNumber number);

// The system's error number of the first write to the stream that fell short (ENOSPC for a
// full disk, EFBIG past a file-size limit), pending writes included once they were flushed
// (StreamLength flushes); 0 while every byte reached the file; -1 for an invalid stream.
int StreamWriteError(ObjectNumber number);

// Flushes, releases the buffer, closes the file; AnyHandle closes every open stream.
void CloseFileStream(ObjectNumber number);

// The size of the file at path, -1 if nothing is there, -2 for a directory.
std::int64_t ProbeFileSize(const char16_t* path);

// The part of path after its last "/" or "\" (a leading double quote skipped, ending at
// the next one), as the string result at position at; with mode bit 1 set, without its
// last extension.
char16_t* FilePartOfPath(const char16_t* path, std::int64_t mode, std::int64_t at);
