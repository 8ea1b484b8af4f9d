// Small text helpers shared by the updater's sources: a heap copy of a text
// and the path of a file below a directory. They keep no state, so any thread
// may call them; the caller owns what copy_text returns.
#ifndef VIRELAN_UPDATER_UPDATER_TEXT_H
#define VIRELAN_UPDATER_UPDATER_TEXT_H

#include <cstdlib>
#include <cstring>

#include "support/bounded_text.h"

namespace updater_text {

// A malloc'ed copy of `text` (freed with free()); null for null or when memory
// runs out.
inline char *copy_text(const char *text) {
  if (text == nullptr) return nullptr;
  const std::size_t n = std::strlen(text);
  char *copy = static_cast<char *>(std::malloc(n + 1));
  if (copy != nullptr) std::memcpy(copy, text, n + 1);
  return copy;
}

// Sets `path` to `directory` + "/" + `name`, or to `name` alone when the
// directory is null or empty.
inline void file_path(bounded_text &path, const char *directory, const char *name) {
  path.clear();
  if (directory != nullptr && directory[0] != '\0') {
    path.append(directory);
    path.append("/");
  }
  path.append(name);
}

}  // namespace updater_text

#endif  // VIRELAN_UPDATER_UPDATER_TEXT_H
