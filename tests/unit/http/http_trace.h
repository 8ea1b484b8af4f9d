// A recorder for the processor's callbacks, and a feeder that hands raw bytes
// to the reader the ways a socket might deliver them. Tests compare the
// recorded trace with the expected one; consecutive body blocks are merged, so
// the trace of a message does not depend on how its bytes were split.
#ifndef VIRELAN_TESTS_UNIT_HTTP_HTTP_TRACE_H
#define VIRELAN_TESTS_UNIT_HTTP_HTTP_TRACE_H

#include <string>
#include <vector>

#include "http/http_processor.h"

namespace http_test {

// Installs itself as the processor's five callbacks. Trace lines:
//   "head <status> <content_length>"            message_received on a client
//   "request <method> <host> <path> <query> <version_code> <content_length>"
//                                               message_received on a server
//   "body <bytes>"                              content_data_received (merged)
//   "complete"                                  message_complete
//   "close"                                     close_connection
struct recorder {
  explicit recorder(vorn_http_data_processor_oline &processor);

  std::vector<std::string> events;
  // What the callbacks answer; 1 accepts.
  int accept_head = 1;
  int accept_body = 1;
  int accept_complete = 1;
  // Outgoing body handed to content_body_get_tx_data, in pieces of at most
  // `tx_piece` bytes; -1 once it is used up (or `tx_end_result` then).
  std::string tx_body;
  int tx_piece = 1 << 30;
  int tx_end_result = -1;

  std::string joined() const;
};

// Drains every queued outgoing byte (get_tx_data in blocks of `block`).
std::string drain(vorn_http_data_processor_oline &processor, int block = 8192);

// Hands `input` to receive_all in blocks that end at the given offsets (and at
// the end). Stops after a -1. Returns the first result other than 1 (or 1).
int feed(vorn_http_data_processor_oline &processor, const std::string &input,
         const std::vector<size_t> &cuts);

// The ways a block sequence is tried: whole, cut in two at every offset, and
// one byte at a time.
std::vector<std::vector<size_t>> every_split(size_t length);

}  // namespace http_test

#endif  // VIRELAN_TESTS_UNIT_HTTP_HTTP_TRACE_H
