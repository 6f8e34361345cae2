// File streams: numbered objects over files, each with an optional 4096-byte buffer that
// serves reads and writes alternately, and a default text format. Texts are read and
// written in UTF-8 (the default), ISO-8859-1 ("ANSI") or UTF-16 little-endian, with no
// byte-order mark written or recognised.
//
// One stream is used by one thread at a time. Operations that change the file table or a
// stream run inside a SharedChangeScope, and long reads stop at StopPoint between chunks,
// so a worker that was told to stop leaves every stream in a consistent state.
#pragma once

#include <cstdint>

#include "runtime/object_registry.h"

// Text formats: the low 5 bits of every flags argument (0: the stream's own format).
inline constexpr std::int32_t FormatUtf8 = 2;
inline constexpr std::int32_t FormatAnsi = 24;  // every other unlisted value behaves so too
inline constexpr std::int32_t FormatUtf16 = 25;
inline constexpr std::int32_t FormatMask = 0x1F;

// Open flags, combined with the format. There are no share modes on this system: the two
// share flags are accepted and have no effect.
inline constexpr std::int32_t ShareRead = 0x20000;
inline constexpr std::int32_t ShareAll = 0x40000;
inline constexpr std::int32_t NoBuffer = 0x80000;
inline constexpr std::int32_t AppendOnOpen = 0x100000;  // OpenFileUpdate only

// Read flag of StreamReadText: line ends don't end the read, only the end of the file or a
// zero unit does.
inline constexpr std::int32_t ReadToEnd = 0x10000;

inline constexpr std::int32_t StreamBufferSize = 4096;

// Start-up and shut-down of the file library (the table is also made on first use);
// FileStreamEnd closes every open stream, flushing pending writes.
void FileStreamInit();
void FileStreamEnd();

// Each returns 0 on failure; otherwise the file descriptor for a static number, or the
// stream handle for AnyHandle. A number that names an open stream closes it first.
ObjectNumber OpenFileRead(ObjectNumber number, const char16_t* path, std::int32_t flags);
ObjectNumber CreateFileStream(ObjectNumber number, const char16_t* path, std::int32_t flags);
ObjectNumber OpenFileUpdate(ObjectNumber number, const char16_t* path, std::int32_t flags);

// One line (its CR LF, LF or lone CR consumed and not stored), or with ReadToEnd the rest
// of the file, as the string result at position at. An invalid stream gives the empty
// string. A worker reading a large file ends at a stop request between chunks.
char16_t* StreamReadText(ObjectNumber number, std::int32_t flags, std::int64_t at);

// Writes text without terminator or line end; returns the bytes written or buffered.
std::int32_t StreamWriteText(ObjectNumber number, const char16_t* text);
std::int32_t StreamWriteText(ObjectNumber number, const char16_t* text, std::int32_t format);

// The file's size in bytes after pending writes are flushed; -1 for an invalid stream.
std::int64_t StreamLength(ObjectNumber number);

// Non-zero if number names an open stream.
int IsFileStream(ObjectNumber number);

// Flushes, releases the buffer, closes the file; AnyHandle closes every open stream.
void CloseFileStream(ObjectNumber number);

// The size of the file at path, -1 if nothing is there, -2 for a directory.
std::int64_t ProbeFileSize(const char16_t* path);

// The part of path after its last "/" or "\" (a leading double quote skipped, ending at
// the next one), as the string result at position at; with mode bit 1 set, without its
// last extension.
char16_t* FilePartOfPath(const char16_t* path, std::int64_t mode, std::int64_t at);
