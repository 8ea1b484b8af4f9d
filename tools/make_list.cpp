// virelan-make-list: publishes a directory as an update list.
//
//   virelan-make-list DIR [--out FILE]
//
// Lists every regular file below DIR (symbolic links to regular files
// included; the list itself and hidden temporary files of this tool left out)
// as one line "digest size name": the SHA-256 of the file in lower-case hex,
// its size in bytes and its path relative to DIR. Lines are ordered by
// descending byte-wise name, so that the newest build of each kind comes first
// when builds are named by version. The text is gzip-compressed and written
// atomically (a temporary file beside FILE, flushed, then renamed). FILE
// defaults to DIR/manifest_linux32_executables.txt.gz.
//
// Refused, with a message naming the file and status 1: names the launcher
// would refuse, could not request or could not read back (a ".." component,
// "%", "?" or "#", a line feed or carriage return, a leading blank or tab,
// nothing but separators, the names of the launcher's own files) and files
// larger than the list's 32-bit size field.
#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "updater/file_manifest.h"

namespace {

const char default_list_name[] = "manifest_linux32_executables.txt.gz";
const char temporary_prefix[] = ".virelan-make-list.";

struct listed_file {
  std::string name;  // relative to the root
  std::string digest;
  long long size;
};

void usage(std::FILE *to) {
  std::fprintf(to,
               "usage: virelan-make-list DIR [--out FILE]\n"
               "Writes the gzip-compressed update list of every file below DIR\n"
               "(default FILE: DIR/%s).\n",
               default_list_name);
}

bool sha256_of(const std::string &path, std::string *hex, long long *size) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  EVP_MD_CTX *context = EVP_MD_CTX_new();
  bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
  static char buffer[1 << 16];
  long long total = 0;
  while (ok) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    total += n;
    ok = EVP_DigestUpdate(context, buffer, static_cast<size_t>(n)) == 1;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (ok) ok = EVP_DigestFinal_ex(context, digest, &length) == 1;
  EVP_MD_CTX_free(context);
  ::close(fd);
  if (!ok) return false;
  hex->clear();
  static const char digits[] = "0123456789abcdef";
  for (unsigned int i = 0; i < length; ++i) {
    hex->push_back(digits[digest[i] >> 4]);
    hex->push_back(digits[digest[i] & 15]);
  }
  *size = total;
  return true;
}

// Why the launcher could not use `name`, or null when it can.
const char *name_problem(const std::string &name) {
  if (!ketu_is_safe_name(name.c_str()))
    return "a \"..\" component, no name at all, or the name of one of the launcher's own files";
  // The launcher sends these unescaped in its request path, where a server
  // reads them as an escape, a query or a fragment and answers for another file.
  if (name.find_first_of("%?#") != std::string::npos) return "a \"%\", \"?\" or \"#\"";
  if (name.find_first_of("\n\r") != std::string::npos) return "a line feed or carriage return";
  if (name[0] == ' ' || name[0] == '\t') return "a leading blank or tab";
  return nullptr;
}

bool walk(const std::string &root, const std::string &relative, const std::string &skip,
          std::vector<listed_file> *files) {
  const std::string directory = relative.empty() ? root : root + "/" + relative;
  DIR *dir = opendir(directory.c_str());
  if (dir == nullptr) {
    std::fprintf(stderr, "virelan-make-list: cannot read directory '%s': %s\n", directory.c_str(),
                 std::strerror(errno));
    return false;
  }
  bool ok = true;
  std::vector<std::string> names;
  while (dirent *e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    names.push_back(e->d_name);
  }
  closedir(dir);
  for (const std::string &entry : names) {
    const std::string name = relative.empty() ? entry : relative + "/" + entry;
    const std::string path = root + "/" + name;
    if (path == skip || entry.compare(0, sizeof temporary_prefix - 1, temporary_prefix) == 0)
      continue;
    struct stat link_info, info;
    if (lstat(path.c_str(), &link_info) != 0 || stat(path.c_str(), &info) != 0) {
      std::fprintf(stderr, "virelan-make-list: cannot examine '%s': %s\n", path.c_str(),
                   std::strerror(errno));
      ok = false;
      continue;
    }
    // Directories are entered; linked directories are not (no loops).
    if (S_ISDIR(link_info.st_mode)) {
      ok = walk(root, name, skip, files) && ok;
      continue;
    }
    if (!S_ISREG(info.st_mode)) continue;
    if (const char *problem = name_problem(name)) {
      std::fprintf(stderr, "virelan-make-list: refusing '%s': the name has %s\n", name.c_str(),
                   problem);
      ok = false;
      continue;
    }
    if (info.st_size > INT32_MAX) {
      std::fprintf(stderr,
                   "virelan-make-list: refusing '%s': %lld bytes is more than the list's size "
                   "field holds (%d)\n",
                   name.c_str(), static_cast<long long>(info.st_size), INT32_MAX);
      ok = false;
      continue;
    }
    listed_file file{name, "", 0};
    if (!sha256_of(path, &file.digest, &file.size)) {
      std::fprintf(stderr, "virelan-make-list: cannot read '%s': %s\n", path.c_str(),
                   std::strerror(errno));
      ok = false;
      continue;
    }
    if (file.size > INT32_MAX) {
      std::fprintf(stderr,
                   "virelan-make-list: refusing '%s': %lld bytes is more than the list's size "
                   "field holds (%d)\n",
                   name.c_str(), file.size, INT32_MAX);
      ok = false;
      continue;
    }
    files->push_back(file);
  }
  return ok;
}

bool write_list(const std::string &out, const std::vector<listed_file> &files) {
  std::string directory = ".";
  std::string::size_type slash = out.rfind('/');
  if (slash != std::string::npos) directory = slash == 0 ? "/" : out.substr(0, slash);
  std::string temporary = directory + "/" + temporary_prefix + "XXXXXX";
  std::vector<char> name(temporary.begin(), temporary.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "virelan-make-list: cannot create a file in '%s': %s\n", directory.c_str(),
                 std::strerror(errno));
    return false;
  }
  fchmod(fd, 0644);  // served to everyone
  int gz_fd = dup(fd);
  gzFile gz = gz_fd >= 0 ? gzdopen(gz_fd, "wb9") : nullptr;
  bool ok = gz != nullptr;
  if (ok) {
    std::string text;
    for (const listed_file &f : files) {
      char size[32];
      std::snprintf(size, sizeof size, " %lld ", f.size);
      text = f.digest + size + f.name + "\n";
      if (gzwrite(gz, text.data(), static_cast<unsigned>(text.size())) !=
          static_cast<int>(text.size())) {
        ok = false;
        break;
      }
    }
  }
  if (gz != nullptr && gzclose(gz) != Z_OK) ok = false;
  if (ok && fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && std::rename(name.data(), out.c_str()) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "virelan-make-list: cannot write '%s': %s\n", out.c_str(),
                 std::strerror(errno));
    unlink(name.data());
  }
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  std::string root;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      usage(stdout);
      return 0;
    }
    if (arg == "--out" && i + 1 < argc) {
      out = argv[++i];
    } else if (arg.compare(0, 6, "--out=") == 0 && arg.size() > 6) {
      out = arg.substr(6);
    } else if (!arg.empty() && arg[0] != '-' && root.empty()) {
      root = arg;
    } else {
      usage(stderr);
      return 2;
    }
  }
  if (root.empty()) {
    usage(stderr);
    return 2;
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (out.empty()) out = root + "/" + default_list_name;

  // The list itself is never listed, wherever it is written.
  char resolved_out[PATH_MAX];
  std::string skip = out;
  if (realpath(out.c_str(), resolved_out) != nullptr) skip = resolved_out;
  char resolved_root[PATH_MAX];
  if (realpath(root.c_str(), resolved_root) == nullptr) {
    std::fprintf(stderr, "virelan-make-list: no directory '%s': %s\n", root.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::vector<listed_file> files;
  bool ok = walk(resolved_root, "", skip, &files);
  if (!ok) return 1;
  std::sort(files.begin(), files.end(), [](const listed_file &a, const listed_file &b) {
    return std::strcmp(a.name.c_str(), b.name.c_str()) > 0;
  });
  if (!write_list(out, files)) return 1;
  long long bytes = 0;
  for (const listed_file &f : files) bytes += f.size;
  std::printf("%zu files, %lld bytes listed in %s\n", files.size(), bytes, out.c_str());
  return 0;
}
