// Path helpers used before anything is opened. Both "/" and "\" separate path parts, so
// that names typed in either style split the same way.
#include "runtime/file_stream.h"

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "runtime/strings.h"
#include "runtime/text_encoding.h"
#include "strings_area.h"

namespace {

bool IsSeparator(char16_t unit) { return unit == u'/' || unit == u'\\'; }

std::u16string_view WithoutTrailingSeparators(std::u16string_view path) {
  while (path.size() > 1 && IsSeparator(path.back())) path.remove_suffix(1);
  return path;
}

// The file part's end once its last extension is cut off, or its own end when there is
// none: a space met first, a dot at its very end and a dot at its start all mean none.
std::size_t EndWithoutExtension(std::u16string_view filePart) {
  for (std::size_t i = filePart.size(); i-- > 0;) {
    if (filePart[i] == u' ') break;
    if (filePart[i] != u'.') continue;
    if (i == 0 || i + 1 == filePart.size()) break;
    return i;
  }
  return filePart.size();
}

}  // namespace

std::int64_t ProbeFileSize(const char16_t* path) {
  if (!path || !*path) return -1;
  const std::string bytes = Utf16ToUtf8(WithoutTrailingSeparators(path));
  struct stat status {};
  if (::stat(bytes.c_str(), &status) != 0) return -1;
  if (S_ISDIR(status.st_mode)) return -2;
  return status.st_size;
}

char16_t* FilePartOfPath(const char16_t* path, std::int64_t mode, std::int64_t at) {
  if (!path) return ReturnEmptyTemp(at);
  std::u16string_view text(path);
  if (!text.empty() && text.front() == u'"') text.remove_prefix(1);
  const std::size_t lastSeparator = text.find_last_of(u"/\\");
  const std::size_t start = lastSeparator == std::u16string_view::npos ? 0 : lastSeparator + 1;
  std::u16string_view filePart = text.substr(start);
  filePart = filePart.substr(0, filePart.find(u'"'));
  if (mode & 1) filePart = filePart.substr(0, EndWithoutExtension(filePart));
  return strings_detail::WriteResult(filePart.data(), static_cast<std::int64_t>(filePart.size()),
                                     at);
}
