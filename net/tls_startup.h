// TLS start-up: initialises OpenSSL once per process and builds the single
// process-wide TLS context, `ssl_context`, from which every TLS connection
// object is made (vorn_tcp_socket calls SSL_new(ssl_context) and then sets
// `ssl_cipher_list` on the new object). The context fixes the protocol family,
// the cipher list and the Diffie-Hellman parameters offered for ephemeral key
// exchange, and can load a certificate, its private key and chains of trusted
// certificates for serving.
//
// Ownership: the module owns the context (kept for the life of the process;
// connection objects hold their own reference, so one made from a context that
// a second init_ssl() replaced stays valid), copies of every file name it is
// given, and the Diffie-Hellman parameter sets, which are built on first
// request and never freed. Callers of get_tmp_dh_callback() do not own what
// it returns.
//
// Threads: the setters, vorn_ssl_startup() and init_ssl() belong to start-up,
// before any other thread runs. ssl_context and ssl_cipher_list may then be
// read from any thread. get_tmp_dh_callback() may run in any thread that
// performs a handshake. The error reports read the calling thread's OpenSSL
// error queue.
#ifndef VIRELAN_NET_TLS_STARTUP_H
#define VIRELAN_NET_TLS_STARTUP_H

#include <atomic>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct dh_st DH;

typedef void (*vorn_ssl_startup_hook_function)();

// Made by init_ssl(); null until then, or when making it failed.
extern std::atomic<SSL_CTX *> ssl_context;
// One of three constant texts: "HIGH:@STRENGTH:!aNULL" (the default),
// "HIGH:@STRENGTH" or "aNULL:HIGH:@STRENGTH".
extern std::atomic<const char *> ssl_cipher_list;

// Ignores SIGPIPE for the whole process, so that a write to a closed
// connection returns an error instead of ending it, then runs init_ssl(). On
// failure writes "Boot failed, SSL startup is broken." to the debug log. 1 on
// success, 0 on failure; the launcher carries on either way.
int vorn_ssl_startup();

// Builds ssl_context from the settings below. 1 when it is ready, 0 on failure
// (reported to the debug log together with the library's oldest error; the
// rest of the calling thread's error queue is then cleared). A context made
// before a later step failed stays in ssl_context.
int init_ssl();

// Choose ssl_cipher_list for the next init_ssl() and for every connection
// object created afterwards.
void vorn_ssl_high_ciphers_no_anonymous();
void vorn_ssl_high_ciphers();
void vorn_ssl_allow_anonymous_ciphers();

// Files for the next init_ssl(). A copy of at most 511 characters is kept;
// null or "" means none.
void vorn_ssl_set_private_key_file(const char *path);        // PEM private key
void vorn_ssl_set_certificate_file(const char *path);        // PEM certificate
void vorn_ssl_set_certificate_chain_file(const char *path);  // trusted certificates
// Puts a copy of `path` at the front of the list of further files of trusted
// certificates, so files added later are loaded first. A null path is ignored.
// 1 when added, 0 for a null path or when memory ran out.
int vorn_ssl_add_extra_chain_file(const char *path);
// Empties that list.
void vorn_ssl_clear_extra_chain_files();
// A function that init_ssl() calls once the context has its cipher list, to
// adjust ssl_context further; null for none.
void vorn_ssl_set_startup_hook(vorn_ssl_startup_hook_function hook);

// The context's temporary Diffie-Hellman callback: the parameter set (a safe
// prime of `key_length` bits, generator 2) for 512, 768, 1024, 1536, 2048,
// 3072 or 4096 bits, the same object on every call; null for other lengths or
// when the set cannot be built (the next call tries again). Lengths below 1024
// are reported as short. `ssl` is not used. OpenSSL 3 asks for 1024 bits,
// export 0, in every handshake that uses DHE.
DH *get_tmp_dh_callback(SSL *ssl, int is_export, int key_length);

// Takes the oldest error from the calling thread's OpenSSL error queue and
// writes its text to the debug log (category 1, TLS module).
void report_ssl_library_error();
// The socket's variant: the oldest error as "<text> - err code <code>."
// (category 256, network module), `code` being the caller's error kind.
void vorn_report_ssl_error(int code);

#endif  // VIRELAN_NET_TLS_STARTUP_H
