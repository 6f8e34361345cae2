#include "file_chooser_request.h"

#include <vector>

namespace {

std::vector<std::u16string_view> Split(std::u16string_view text, char16_t separator) {
  std::vector<std::u16string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::u16string_view::npos ? end : end - start));
    if (end == std::u16string_view::npos) return parts;
    start = end + 1;
  }
}

std::u16string_view Trimmed(std::u16string_view text) {
  const std::size_t first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(u' ') - first + 1);
}

// "*.*" means every file where the filter texts come from; here a name needs no dot.
std::u16string PatternFor(std::u16string_view pattern) {
  return pattern == u"*.*" ? std::u16string(u"*") : std::u16string(pattern);
}

// Filters come in pairs: a description, then its patterns separated by ";".
std::vector<FileFilter> ParseFilters(std::u16string_view pattern) {
  std::vector<FileFilter> filters;
  if (pattern.empty()) return filters;
  const std::vector<std::u16string_view> parts = Split(pattern, u'|');
  for (std::size_t pair = 0; pair + 1 < parts.size(); pair += 2) {
    FileFilter filter{std::u16string(parts[pair]), {}};
    for (std::u16string_view one : Split(parts[pair + 1], u';')) {
      if (!Trimmed(one).empty()) filter.patterns.push_back(PatternFor(Trimmed(one)));
    }
    if (!filter.patterns.empty()) filters.push_back(std::move(filter));
  }
  return filters;
}

}  // namespace

bool ProposableFileName(std::u16string_view name) {
  if (name.empty()) return false;
  for (char16_t c : name) {
    if (c < 0x20 || std::u16string_view(u"\"*/:<>?\\|").find(c) != std::u16string_view::npos) {
      return false;
    }
  }
  return true;
}

FileChooserRequest BuildFileChooserRequest(bool save, std::u16string_view title,
                                           std::u16string_view defaultFile,
                                           std::u16string_view pattern, std::int64_t patternIndex) {
  FileChooserRequest request;
  request.save = save;
  request.title = title;
  std::u16string_view name = defaultFile;
  const std::size_t separator = defaultFile.find_last_of(u"/\\");
  if (separator != std::u16string_view::npos) {
    // A path right under the root keeps the root as its folder.
    request.startFolder =
        separator == 0 ? defaultFile.substr(0, 1) : defaultFile.substr(0, separator);
    name = defaultFile.substr(separator + 1);
  }
  if (ProposableFileName(name)) request.proposedName = name;
  request.filters = ParseFilters(pattern);
  if (patternIndex > 0 && static_cast<std::size_t>(patternIndex) < request.filters.size()) {
    request.selectedFilter = static_cast<std::size_t>(patternIndex);
  }
  return request;
}
