// Feeds arbitrary bytes to the launcher's settings reader as the content of
// "launcher.cfg": the declaration line, the XML reader's tags, values,
// skipping and entity decoding. Whatever the file holds, reading it must stay
// inside its buffers and leave beta mode at a value the file gave or unchanged.
#include <cstdint>
#include <cstdio>

#include "launcher/launcher_config.h"
#include "support/debug_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  debug_level = 0;  // the warnings would only fill the log
  std::FILE *file = fmemopen(const_cast<std::uint8_t *>(data), size, "rb");
  if (file == nullptr) return 0;
  beta_test_enable = 0;
  read_system_config_stream(file);
  std::fclose(file);
  return 0;
}
