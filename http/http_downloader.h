// vorn_http_downloader: fetches one resource with a single HTTP GET over one
// TCP connection (optionally TLS) and delivers the body into a file or, block
// by block, to a data callback. It follows no redirects, retries nothing, sends
// one request per connection ("Connection: close") and accepts only the
// status 200.
//
// Use: construct; set the callbacks and `callback_user`; set_connection();
// download() once; destroy. download() blocks its thread until the exchange
// ends; the callbacks run in that thread, inside download(). The socket waits
// up to 5 s at a time and the download has no overall time limit: a silent
// server keeps it waiting as long as the connection stays open.
//
// Success means the whole response arrived: a close by the server before the
// status line, inside the header section, before a counted body reached its
// Content-Length or before a chunked body's last chunk is a failure. Only a
// body without length or chunking ends at the close, and then successfully.
// In file mode the destination is closed (and its data handed to the system)
// before download() returns, on every path; a response other than 200 never
// creates or empties it.
//
// Ownership: the downloader owns its socket and, during a download, the open
// destination file and a processor on its stack. It never dereferences
// `callback_user`. Threads: one thread at a time.
#ifndef VIRELAN_HTTP_HTTP_DOWNLOADER_H
#define VIRELAN_HTTP_HTTP_DOWNLOADER_H

#include <netinet/in.h>

#include <cstdio>

#include "net/tcp_socket.h"
#include "support/bounded_text.h"

class vorn_http_data_processor_oline;

// A block of body bytes; 0 refuses it (the download then fails).
typedef int (*vorn_download_data_callback)(void *user, const char *data, int length);
// Progress: (0, total) before the first block, then (received, total) after
// every block; total is -1 when the response gave no length.
typedef void (*vorn_download_progress_callback)(void *user, int received, int total);

class vorn_http_downloader {
 public:
  static constexpr int connect_timeout_ms = 5000;
  static constexpr int transfer_timeout_ms = 5000;
  static constexpr int block_size = 8192;

  vorn_http_downloader() = default;
  ~vorn_http_downloader();
  vorn_http_downloader(const vorn_http_downloader &) = delete;
  vorn_http_downloader &operator=(const vorn_http_downloader &) = delete;

  // Records the port and TLS choice and resolves `host` (a dotted IPv4 address
  // is taken as it is). 1 when resolved; after a 0, download() fails without
  // connecting.
  int set_connection(const char *host, int port, int use_tls);
  // File mode: the body goes into `destination_file` ("wb": created or emptied
  // only once a 200 arrived). 1 on success, 0 on failure.
  int download(const char *host, const char *path, const char *destination_file);
  // Data-callback mode (or file mode once `destination` is set). `host` is only
  // the "Host:" line; the connection goes where set_connection() said.
  int download(const char *host, const char *path);

  // The processor's handlers (public for the processor's plain-function hooks).
  static void callback_close_connection(vorn_http_data_processor_oline *p, void *self);
  static int callback_message_received(vorn_http_data_processor_oline *p, void *self);
  static int callback_content_data_received(vorn_http_data_processor_oline *p, void *self,
                                            const char *data, int length);
  static int callback_message_complete(vorn_http_data_processor_oline *p, void *self);
  static int callback_content_body_get_tx_data(vorn_http_data_processor_oline *p, void *self,
                                               char *buffer, int maximum);

  int use_tls = 0;
  int port = 0;
  sockaddr_in server_address{};
  bounded_text destination;
  FILE *file = nullptr;
  int expected_total = -1;
  int bytes_received = 0;
  vorn_tcp_socket socket;
  vorn_download_data_callback data_callback = nullptr;
  vorn_download_progress_callback progress_callback = nullptr;
  void *callback_user = nullptr;

 private:
  // Closes the destination file; 0 when what was written could not be saved.
  int close_file();
  // The end of the receive phase when the peer closed the connection cleanly.
  int finish_on_close(vorn_http_data_processor_oline &processor);

  int server_resolved_ = 0;
  int response_complete_ = 0;
};

#endif  // VIRELAN_HTTP_HTTP_DOWNLOADER_H
