#include "launcher/launcher_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "launcher/launcher_state.h"
#include "support/bounded_text.h"
#include "support/config_directory.h"
#include "support/debug_log.h"
#include "support/line_reader.h"
#include "support/words.h"
#include "xml/xml_reader.h"
#include "xml/xml_writer.h"

std::atomic<int> beta_test_enable{0};

namespace {

// Heap copy of the version the file named; kept to the end of the process.
char *config_launcher_version = nullptr;

constexpr int tag_size = 1000;

void remember_version(const char *value) {
  const std::size_t n = std::strlen(value) + 1;
  char *copy = static_cast<char *>(std::malloc(n));
  if (copy == nullptr) return;
  std::memcpy(copy, value, n);
  std::free(config_launcher_version);
  config_launcher_version = copy;
}

// The children of <launcher_config>, until its closing tag.
void read_launcher_config(vorn_xml_reader &reader) {
  char tag[tag_size];
  while (reader.read_tag(tag, sizeof tag) == 1) {
    if (word_equal_nonnull(tag, "launcher_version")) {
      char value[tag_size];
      if (reader.read_data(value, sizeof value)) remember_version(value);
    } else if (word_equal_nonnull(tag, "beta_test_enable")) {
      int value = beta_test_enable.load();
      if (reader.read_data(&value)) beta_test_enable = value;
    } else {
      reader.skip_data();
    }
  }
}

void config_file_path(bounded_text &path) {
  path.append(vorn_client_get_config_directory());
  path.append(config_file_suffix);
}

void report_unable_to_write(const char *path) {
  if (debug_level >= 1) {
    debug_log("Error in save_system_config_file(), unable to write to system config file '%s'.\n",
              path);
  }
}

// Makes a rename in `directory` durable; failure only weakens that guarantee.
void sync_directory(const char *directory) {
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

void read_system_config_stream(std::FILE *file) {
  char line[tag_size];
  line[0] = '\0';
  fget_line(file, line, sizeof line);
  vorn_xml_file_reader reader(file);
  if (!vorn_xml_reader::check_xml_header_string(line)) {
    if (debug_level >= 1)
      debug_log("Warning in load_system_config_file() - bad XML header, bailing.\n");
    return;
  }
  char tag[tag_size];
  while (reader.read_tag(tag, sizeof tag) == 1) {
    if (word_equal_nonnull(tag, "launcher_config")) {
      read_launcher_config(reader);
    } else {
      if (debug_level >= 1) debug_log("load_system_config_file() got unknown tag '%s'\n", tag);
      reader.skip_data();
    }
  }
}

void load_system_config_file() {
  if (vorn_client_get_config_directory() == nullptr) {
    if (debug_level >= 1) debug_log("Unable to load system config - no config file directory.\n");
    return;
  }
  bounded_text path;
  config_file_path(path);
  if (debug_level >= 3) {
    debug_log("load_system_config_file() - using core config file name '%s'.\n", path.c_str());
  }
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    if (debug_level >= 1) {
      debug_log("Unable to load system config - cannot open config file '%s'.\n", path.c_str());
    }
  } else {
    read_system_config_stream(file);
    std::fclose(file);
  }
  if (config_launcher_version != nullptr &&
      std::strcmp(config_launcher_version, launcher_version_text) == 0) {
    return;
  }
  save_system_config_file();
}

int save_system_config_file() {
  const char *directory = vorn_client_get_config_directory();
  if (directory == nullptr) {
    if (debug_level >= 1) debug_log("Unable to save system config - no config file directory.\n");
    return 0;
  }
  bounded_text path;
  config_file_path(path);
  // The new file is written beside the old one and renamed over it only when
  // it is complete and on disk.
  bounded_text temporary;
  temporary.append(path.c_str());
  temporary.append(".XXXXXX");
  const int fd = mkstemp(temporary.text);
  std::FILE *file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    if (fd >= 0) {
      close(fd);
      unlink(temporary.c_str());
    }
    if (debug_level >= 1) {
      debug_log("Unable to save system config - cannot open config file '%s'.\n", path.c_str());
    }
    return 0;
  }
  fchmod(fd, 0644);  // as the file was always created; mkstemp makes it 0600

  int written = 0;
  {
    vorn_xml_file_writer writer(file);
    if (writer.write_header() >= 0) {
      if (debug_level >= 3) debug_log("Saving system config to file '%s'.\n", path.c_str());
      writer.write_tag("launcher_config", 1);
      writer.write_tag("launcher_version", 0);
      writer.write_string(launcher_version_text);
      writer.end_tag(nullptr, 0);
      writer.write_tag("beta_test_enable", 0);
      char value[16];
      std::snprintf(value, sizeof value, "%d", beta_test_enable.load());
      writer.write_string(value);
      writer.end_tag(nullptr, 0);
      writer.end_tag(nullptr, 1);
      writer.write_newline();
      written = !writer.failed;
    }
  }
  // Buffered output fails late: only a clean flush, sync and close count.
  written = written && std::fflush(file) == 0 && !std::ferror(file) && fsync(fd) == 0;
  written = (std::fclose(file) == 0) && written;
  if (written && std::rename(temporary.c_str(), path.c_str()) == 0) {
    sync_directory(directory);
    std::fflush(nullptr);
    return 1;
  }
  unlink(temporary.c_str());
  report_unable_to_write(path.c_str());
  return 0;
}

int get_beta_test_enable() { return beta_test_enable.load(); }

void set_beta_test_enable(int value) {
  if (beta_test_enable.exchange(value) != value) save_system_config_file();
}

const char *get_config_launcher_version() { return config_launcher_version; }

const char *get_launcher_version_text() { return launcher_version_text; }
