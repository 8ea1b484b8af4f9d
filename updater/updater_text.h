// The path of a file below a directory, as the updater's sources build it. No
// state, so any thread may call it; the path belongs to the caller.
#ifndef VIRELAN_UPDATER_UPDATER_TEXT_H
#define VIRELAN_UPDATER_UPDATER_TEXT_H

#include "support/bounded_text.h"

namespace updater_text {

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
