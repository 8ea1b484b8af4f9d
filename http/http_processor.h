// vorn_http_data_processor_oline: the HTTP/1.x engine of one connection, for
// both sides of the exchange. It never touches a socket. It composes outgoing
// messages (requests on the client side, responses on the server side) into
// its own byte queue `tx_queue`, which the owner drains with get_tx_data() and
// writes to the socket, and it parses whatever blocks the owner hands to
// receive_all(), reporting through five callbacks.
//
// Which side it plays follows from what the owner calls: starting a request
// (start_http_GET, _HEAD, _POST) sets `client_mode`, and a processor that never
// started one reads requests and is answered with send_response*().
//
// Callbacks: each gets the processor and `user_data` first. Data may arrive in
// pieces of any size, split anywhere; message_received() comes exactly once
// per message, at the end of its header section and before any body byte, and
// message_complete() exactly once after the last body byte (never for a body
// that runs until the connection closes, unless the owner reports the close
// with connection_closed()). A result of 0 from message_received,
// message_complete or content_data_received refuses the message: the
// processor sets `failed` and stops. A callback that is needed but absent
// counts as a refusal. Callbacks may read the received fields and may start a
// response, but must not destroy the processor.
//
// Ownership: the processor owns its queue and both cookie lists; it never
// dereferences `user_data`. Threads: one thread at a time, no locks. The
// queue's buffers come from the process-wide pool (see socket_data_queue.h).
//
// Limits that hold whatever a peer sends: a line is assembled into a 6000-byte
// bounded_text and cut at 5999 characters; every received text field is cut to
// its size; a Content-Length or chunk size beyond the range of int is refused
// as malformed; the processor buffers nothing but that one line.
#ifndef VIRELAN_HTTP_HTTP_PROCESSOR_H
#define VIRELAN_HTTP_HTTP_PROCESSOR_H

#include "net/socket_data_queue.h"
#include "support/bounded_text.h"

class vorn_http_data_processor_oline;

// One cookie, received (Cookie: lines) or to send (Set-Cookie: lines); linked
// into one of the processor's two lists, which own their records.
struct vorn_http_cookie {
  vorn_http_cookie *next = nullptr;
  int secure = 0;
  int max_age = 0;
  char key[64] = {};
  char domain[64] = {};
  char value[256] = {};

  // Each: null empties the field (1); a text that fits is copied (1); a text
  // too long leaves the field unchanged, reports it and gives 0.
  int set_key(const char *text);
  int set_domain(const char *text);
  int set_value(const char *text);
  // Sets the processor's `cookie_prefix` under the same rule (31 characters).
  static int set_cookie_prefix(vorn_http_data_processor_oline *processor, const char *text);
};

// The owner's callbacks; see the file comment for what their results mean.
typedef void (*vorn_http_close_callback)(vorn_http_data_processor_oline *processor,
                                         void *user_data);
typedef int (*vorn_http_message_callback)(vorn_http_data_processor_oline *processor,
                                          void *user_data);
// A block of incoming body bytes (length at least 1), chunk framing removed.
// The bytes are the owner's own block and valid only during the call.
typedef int (*vorn_http_data_callback)(vorn_http_data_processor_oline *processor, void *user_data,
                                       const char *data, int length);
// Fills up to `maximum` outgoing body bytes into `buffer`: the count (1..maximum),
// 0 for none available now, -1 for the end of the body, below -1 for an error.
typedef int (*vorn_http_tx_callback)(vorn_http_data_processor_oline *processor, void *user_data,
                                     char *buffer, int maximum);

// Content-type codes of received and sent messages.
enum vorn_http_content_type {
  http_content_text_plain = 1,
  http_content_text_html = 2,
  http_content_form_urlencoded = 10,
  http_content_xml = 11,
  http_content_rss_xml = 12,
  http_content_json = 13,
  http_content_octet_stream = 14,
  http_content_other = 99,
};

// The value's first token (cut at a blank, ";" or tab) compared ignoring ASCII
// case with the known names; 99 for anything else.
int content_type_code_of(const char *value);
// The name of a code; "binary/unknown" for codes without one.
const char *content_type_name_of(int code);

class vorn_http_data_processor_oline {
 public:
  vorn_http_data_processor_oline();
  ~vorn_http_data_processor_oline();
  vorn_http_data_processor_oline(const vorn_http_data_processor_oline &) = delete;
  vorn_http_data_processor_oline &operator=(const vorn_http_data_processor_oline &) = delete;

  // --- Composing (request writer and shared lines) ---

  // Stores the Basic credentials (null is the empty text). A value of 64
  // characters or more is cut to 63 and reported; the result is then 0.
  int set_credentials(const char *user, const char *password_text);
  // 1 when no new outgoing message may be started now.
  int refuse_new_message(const char *operation);
  // Queues "GET <escaped path> HTTP/1.1" and its header lines. 1 when queued.
  int start_http_GET(const char *host_text, const char *path_text);
  // Like GET with the path unescaped; the response will have no body.
  int start_http_HEAD(const char *host_text, const char *path_text);
  // Queues a POST with a body of `length` bytes (0 none, -1 unknown) pulled from
  // content_body_get_tx_data; returns fill_content_body().
  int start_http_POST(const char *host_text, const char *path_text, int type_code, int length);
  // Appends the length line, Authorization, Accept-Encoding, Expect and
  // Connection lines (requests) or the length and Connection lines (responses).
  void write_header_lines(bounded_text &text, int is_request, int length);
  const char *version_name() const;
  // Pulls outgoing body bytes into the queue. 1 on success or when nothing is
  // pending, 0 on failure.
  int fill_content_body();
  // Copies up to `length` queued outgoing bytes into `buffer`: the count, 0 when
  // there is nothing to send now, -1 when refused (failed, or a body failure).
  int get_tx_data(char *buffer, int length);

  // --- Reading ---

  // Hands a received block to the reader: 1 when all of it was consumed, 0 when
  // input is now discarded (a 400 was queued; server side), -1 on failure.
  int receive_all(const char *data, int length);
  // One step of receive_all: the length of the prefix consumed, or -1.
  int receive(const char *data, int length);
  // 0 accepted, 1 bad, 2 questionable (tolerated by a client, 400 on a server).
  int header_line_parse(const char *text);
  int try_extract_http_version_number(const char *word);
  int parse_status_line(const char *text);
  int parse_request_line(const char *text);
  int message_has_body();
  int headers_complete();

  // --- Server side and cookies ---

  int send_response(int status, int type_code, int length, const char *reason_text);
  int send_response_100();
  int send_response_301(const char *location);
  int send_response_400(const char *reason_text);
  int send_response_413(const char *reason_text);
  int send_response_415(const char *reason_text);
  int send_response_501();

  void set_cookie(const char *key, const char *value, const char *domain, int max_age, int secure);
  void expire_cookie(const char *key, const char *domain);
  void add_received_cookie(const char *key, const char *value);
  // The value of the first cookie of the list whose key is the same word, or null.
  const char *find_received_cookie(const char *key);
  const char *find_cookie_to_send(const char *key);
  void remove_received_cookie(const char *key);
  // Stores the cookies of a Cookie: value; returns how many were stored.
  int parse_cookie_header(const char *value);
  void write_cookie_lines(bounded_text &text);

  // The owner saw the connection end: finishes a chunked body being sent and
  // completes an incoming body that runs until the close.
  void connection_closed();
  void close_connection_now();
  // The per-message reset of a first line, with line_count 0 and no header
  // section open.
  void reset_message_fields();

  // --- Fields: options (set by the owner before starting a message) ---
  int send_expect_100;
  int force_http_1_0;
  int allow_chunked_body;
  // --- State ---
  int failed;
  int discard_input;
  int client_mode;
  int tx_body_remaining;  // 0 none, -1 unknown length, else bytes still to pull
  int close_after_send;
  int close_after_receive;
  int close_requested;
  int tx_chunked;
  int rx_chunked;
  int chunk_state;  // 1 size line, 2 chunk data, 3 line end after the data
  int chunk_remaining;
  int in_body;
  int body_received;
  char sent_method[32];
  bounded_text line;
  int line_complete;
  int previous_byte;
  // --- The last received message (valid from its first line to the next) ---
  char version_text[32];
  int version_code;  // 10, 11, 0 (HTTP/0.x) or 20 (anything else)
  int expect_continue_received;
  char transfer_encoding[256];
  char content_type[64];
  int content_type_code;
  int status_code;  // 0 for a received request
  char reason[256];
  char method[32];
  char host[256];
  char path[256];  // without the leading "/"
  char query[256];
  int content_length;  // -1 when none was given
  int line_count;
  int in_header_section;
  bounded_text first_line;
  // --- Owner's hooks ---
  void *user_data;
  vorn_http_close_callback close_connection;
  vorn_http_message_callback message_received;
  vorn_http_message_callback message_complete;
  vorn_http_data_callback content_data_received;
  vorn_http_tx_callback content_body_get_tx_data;
  // --- Credentials and cookies ---
  char user_name[64];
  char password[64];
  char cookie_prefix[32];
  vorn_http_cookie *received_cookies;
  vorn_http_cookie *cookies_to_send;
  vorn_socket_data_queue tx_queue;

 private:
  // The end of a chunked body: the last chunk and the empty line that closes
  // its (empty) trailer section.
  static constexpr const char *last_chunk = "0\r\n\r\n";

  // Flags that composing a head may change; put back when the head is refused.
  struct saved_flags {
    int tx_chunked;
    int close_after_send;
    int close_after_receive;
  };
  saved_flags save_flags() const;
  // Appends a composed head to the queue; refuses (0) a head that was cut.
  int queue_head(bounded_text &text, const char *operation, const saved_flags &before);
  int assemble_line(const char *data, int length);
  // Finishing a message after a successful message_complete.
  void finish_message();
  // Calls message_complete and finishes the message; the receive() result for a
  // step that consumed `consumed` bytes.
  int complete_message(int consumed);
  // Passes body bytes on; 1 to go on, 0 when refused (failed set) or a callback
  // set `failed`. `*result` receives what receive() should return then.
  int deliver_body(const char *data, int length, int *result);
  int receive_header_mode(const char *data, int length);
  int receive_chunked(const char *data, int length);
  int parse_chunk_size_line(const char *text, int *size);
  // Composes a GET or HEAD request.
  int start_request(const char *operation, const char *verb, const char *host_text,
                    const char *path_text, int escape_path);
  int send_fixed_response(const char *operation, const char *status_part, const char *location,
                          int with_location);
  void store_cookie(vorn_http_cookie **list, const char *key, const char *value, const char *domain,
                    int max_age, int secure);
  void reset_received_fields();
};

#endif  // VIRELAN_HTTP_HTTP_PROCESSOR_H
