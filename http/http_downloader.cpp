#include "http/http_downloader.h"

#include <unistd.h>

#include <cstring>

#include "http/http_processor.h"
#include "support/debug_log.h"

namespace {

constexpr int module_downloader = 11;

void report(const char *text, int category) { debug_message(text, category, module_downloader); }

vorn_http_downloader *of(void *self) { return static_cast<vorn_http_downloader *>(self); }

}  // namespace

vorn_http_downloader::~vorn_http_downloader() { close_file(); }

int vorn_http_downloader::close_file() {
  if (file == nullptr) return 1;
  // A full disk may only show when the last buffered bytes are written.
  int ok = std::fflush(file) == 0 && !std::ferror(file);
  if (std::fclose(file) != 0) ok = 0;
  file = nullptr;
  return ok;
}

int vorn_http_downloader::set_connection(const char *host, int port_number, int tls) {
  if (host == nullptr) {
    report("Error in vorn_http_downloader::set_connection(), NULL host name.", 4);
    return 0;
  }
  use_tls = tls;
  port = port_number;
  server_resolved_ = vorn_network_resolve_host(host, &server_address);
  if (server_resolved_) server_address.sin_family = AF_INET;
  return server_resolved_;
}

int vorn_http_downloader::download(const char *host, const char *path,
                                   const char *destination_file) {
  if (host == nullptr) {
    report("Error in vorn_http_downloader::download(), NULL host.", 4);
    return 0;
  }
  if (path == nullptr) {
    report("Error in vorn_http_downloader::download(), NULL path.", 4);
    return 0;
  }
  if (destination_file == nullptr) {
    report("Error in vorn_http_downloader::download(), NULL destination file name.", 4);
    return 0;
  }
  if (data_callback != nullptr) {
    report(
        "Error in vorn_http_downloader::download(), attempt to do file based download after "
        "setting data callback.",
        4);
    return 0;
  }
  destination.assign(destination_file);
  return download(host, path);
}

int vorn_http_downloader::download(const char *host, const char *path) {
  if (destination.length == 0 && data_callback == nullptr) {
    report(
        "Error in vorn_http_downloader::download(), NULL destination file name and NULL "
        "download data callback.",
        4);
    return 0;
  }
  // Without a resolved address the connection would go to 0.0.0.0, which is
  // this machine.
  if (!server_resolved_) {
    report("Error in vorn_http_downloader::download(), server address not resolved.", 4);
    return 0;
  }
  if (use_tls)
    socket.enable_ssl();
  else
    socket.disable_ssl();
  if (socket.blocking_connect(&server_address, port, connect_timeout_ms) <= 0) {
    report("Error in vorn_http_downloader::download(), connect failed.", 128);
    socket.close();
    return 0;
  }

  vorn_http_data_processor_oline processor;
  processor.user_data = this;
  processor.close_connection = callback_close_connection;
  processor.message_received = callback_message_received;
  processor.content_data_received = callback_content_data_received;
  processor.message_complete = callback_message_complete;
  processor.content_body_get_tx_data = callback_content_body_get_tx_data;
  processor.close_requested = 1;
  response_complete_ = 0;

  int result = 0;
  char buffer[block_size];
  if (!processor.start_http_GET(host, path)) {
    report("Error in vorn_http_downloader::download(), unable to start HTTP GET?", 2);
  } else {
    result = -1;  // undecided
    // Send phase: every queued byte, each block written completely.
    while (result == -1 && (socket.state & vorn_tcp_socket::state_connected)) {
      int n = processor.get_tx_data(buffer, block_size);
      if (n == 0) break;
      if (n < 0) {
        report("Error in vorn_http_downloader::download(), unable to start HTTP GET?", 2);
        result = 0;
        break;
      }
      for (int written = 0; written < n;) {
        int w = socket.blocking_write(buffer + written, n - written, transfer_timeout_ms);
        if (w < 0) {
          report("Error in vorn_http_downloader::download(), blocking write failed.", 2);
          result = 0;
          break;
        }
        written += w;
      }
    }
    // Receive phase.
    while (result == -1) {
      if (socket.state == vorn_tcp_socket::state_unconnected) {
        // The processor closed the socket once the response was complete.
        result = response_complete_ ? 1 : finish_on_close(processor);
        break;
      }
      int n = socket.blocking_read(buffer, block_size, transfer_timeout_ms);
      if (n == 0) continue;
      if (n > 0) {
        int r = processor.receive_all(buffer, n);
        if (r < 0) {
          report("Error in vorn_http_downloader::download(), http data fetch failed.", 2);
          result = 0;
        } else if (r == 0) {
          result = response_complete_ ? 1 : 0;
        }
        continue;
      }
      if (socket.read_error == 0) {
        result = response_complete_ ? 1 : finish_on_close(processor);
        break;
      }
      const bool all = bytes_received == expected_total;
      if (progress_callback != nullptr) {
        report(all ? "Error in vorn_http_downloader::download(), blocking read failed but all "
                     "data received."
                   : "Error in vorn_http_downloader::download(), blocking read failed, not all "
                     "bytes read.",
               2);
      } else if (all) {
        report(
            "Error in vorn_http_downloader::download(), blocking read failed but file seems "
            "ok.  Keeping file.",
            2);
      } else {
        report(
            "Error in vorn_http_downloader::download(), blocking read failed, unknown file "
            "state.  Deleting file.",
            2);
        close_file();
        if (destination.length > 0) unlink(destination.c_str());
      }
      result = 0;
    }
  }
  if (!close_file()) {
    bounded_text message;
    message.append("Error in vorn_http_downloader::download(), unable to write all data to '");
    message.append(destination.c_str());
    message.append("'.");
    report(message.c_str(), 2);
    result = 0;
  }
  socket.close();
  return result;
}

int vorn_http_downloader::finish_on_close(vorn_http_data_processor_oline &processor) {
  // Only a body that has neither a length nor chunks ends with the close.
  if (processor.in_body && processor.content_length < 0 && !processor.rx_chunked &&
      !processor.failed) {
    processor.connection_closed();
    return 1;
  }
  report(
      "Error in vorn_http_downloader::download(), connection closed before the response was "
      "complete.",
      2);
  return 0;
}

void vorn_http_downloader::callback_close_connection(vorn_http_data_processor_oline *, void *self) {
  of(self)->socket.close();
}

int vorn_http_downloader::callback_message_received(vorn_http_data_processor_oline *p, void *self) {
  vorn_http_downloader *d = of(self);
  if (d->destination.length > 0) {
    d->bytes_received = 0;
    d->expected_total = p->content_length;
    if (p->status_code == 200) {
      d->close_file();
      d->file = std::fopen(d->destination.c_str(), "wbe");
      if (d->file != nullptr) return 1;
      debug_message_about(
          "Warning in vorn_http_downloader::callback_message_received(), unable to open output "
          "file '",
          d->destination.c_str(), "'.  Aborting download.", 2, module_downloader);
      return 0;
    }
    debug_message_about(
        "Warning in vorn_http_downloader::callback_message_received(), download failed for file '",
        d->destination.c_str(), "'.  Aborting download.", 2, module_downloader);
    return 0;
  }
  if (d->data_callback == nullptr) {
    report(
        "Error in vorn_http_downloader::callback_message_received(), NULL destination file "
        "name and NULL download data callback.",
        4);
    return 0;
  }
  d->bytes_received = 0;
  d->expected_total = p->content_length;
  if (p->status_code == 200) return 1;
  report(
      "Warning in vorn_http_downloader::callback_message_received(), download failed in "
      "callback mode.",
      2);
  return 0;
}

int vorn_http_downloader::callback_content_data_received(vorn_http_data_processor_oline *,
                                                         void *self, const char *data, int length) {
  vorn_http_downloader *d = of(self);
  if (length <= 0) return 0;
  if (d->bytes_received == 0 && d->progress_callback != nullptr)
    d->progress_callback(d->callback_user, 0, d->expected_total);
  int r;
  if (d->destination.length == 0) {
    r = d->data_callback(d->callback_user, data, length);
    d->bytes_received += length;
  } else {
    if (d->file == nullptr) {
      report(
          "Warning in vorn_http_downloader::callback_content_data_received(), attempt to "
          "download data via callback, only no callback set.",
          2);
      return 0;
    }
    if (std::fwrite(data, 1, static_cast<size_t>(length), d->file) != static_cast<size_t>(length)) {
      report(
          "Warning in vorn_http_downloader::callback_content_data_received(), unable to write "
          "all data to disk.  Bailing.",
          2);
      return 0;
    }
    d->bytes_received += length;
    r = 1;
  }
  if (d->progress_callback != nullptr)
    d->progress_callback(d->callback_user, d->bytes_received, d->expected_total);
  return r;
}

int vorn_http_downloader::callback_message_complete(vorn_http_data_processor_oline *, void *self) {
  vorn_http_downloader *d = of(self);
  d->response_complete_ = 1;
  if (!d->close_file()) {
    // The last bytes did not reach the disk: the download is not complete.
    d->response_complete_ = 0;
    report(
        "Warning in vorn_http_downloader::callback_content_data_received(), unable to write "
        "all data to disk.  Bailing.",
        2);
    return 0;
  }
  return 1;
}

int vorn_http_downloader::callback_content_body_get_tx_data(vorn_http_data_processor_oline *,
                                                            void *, char *, int) {
  report(
      "Error in vorn_http_downloader::callback_content_body_get_tx_data(), this callback should "
      "never be invoked.",
      4);
  return -1;
}
