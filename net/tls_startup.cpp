// The temporary Diffie-Hellman callback and the DH_* calls that build its
// parameter sets are deprecated in OpenSSL 3 but still built into Debian's
// library, and the callback is the only hook that hands out parameters by the
// requested key length. This file alone opts out of the deprecation warnings.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "net/tls_startup.h"

#include <openssl/bn.h>
#include <openssl/dh.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "support/debug_log.h"

std::atomic<SSL_CTX *> ssl_context{nullptr};
std::atomic<const char *> ssl_cipher_list{"HIGH:@STRENGTH:!aNULL"};

namespace {

constexpr int module_network = 2;
constexpr int module_tls = 5;
constexpr int file_name_size = 512;

char private_key_file[file_name_size];
char certificate_file[file_name_size];
char certificate_chain_file[file_name_size];

struct extra_chain_file {
  extra_chain_file *next;
  char *path;
};
extra_chain_file *extra_chain_files = nullptr;  // the file added last first

vorn_ssl_startup_hook_function ssl_startup_hook = nullptr;

void set_file_name(char (&field)[file_name_size], const char *path) {
  if (path == nullptr) path = "";
  std::strncpy(field, path, file_name_size - 1);
  field[file_name_size - 1] = '\0';
}

// The failure of an init_ssl() step: its own message when it has one, then the
// library's reason. The rest of the queue belongs to the same failure; left
// there, it would be reported later as the reason of something else.
int init_failed(const char *message) {
  if (message != nullptr) debug_message(message, 1, module_tls);
  report_ssl_library_error();
  ERR_clear_error();
  return 0;
}

// A safe prime (p and (p - 1) / 2 both prime) of 512 bits, made once with
// `openssl prime -generate -bits 512 -safe -hex`. The longer sets use the
// published Oakley (RFC 2409) and MODP (RFC 3526) groups, which are safe
// primes for generator 2 as well.
const unsigned char safe_prime_512[64] = {
    0xD5, 0x0B, 0x32, 0x6C, 0xE8, 0x7C, 0xBB, 0xC8, 0x52, 0x32, 0x20, 0xA2, 0xF3, 0x8F, 0x28, 0xEA,
    0xF7, 0xC8, 0xD5, 0x82, 0x9C, 0xF2, 0xE8, 0x48, 0xFC, 0xF1, 0x68, 0xA1, 0x09, 0x10, 0xBE, 0xA1,
    0x74, 0x99, 0xA6, 0xC5, 0xC3, 0x80, 0xED, 0x7E, 0x03, 0x89, 0x2E, 0x81, 0x47, 0x39, 0xDE, 0xC0,
    0x55, 0x76, 0xAE, 0x37, 0x76, 0xE6, 0x8B, 0x3D, 0x25, 0x14, 0x80, 0x0E, 0x53, 0x87, 0x35, 0x7F,
};

BIGNUM *get_safe_prime_512(BIGNUM *bn) {
  return BN_bin2bn(safe_prime_512, sizeof safe_prime_512, bn);
}

struct dh_cache_slot {
  int bits;
  BIGNUM *(*make_prime)(BIGNUM *);
  DH *parameters;  // guarded by dh_cache_mutex; never freed once set
};

// Handshakes in several threads may ask for the same set at once; the lock
// makes sure one set per length is built and every caller gets that one.
std::mutex dh_cache_mutex;
dh_cache_slot dh_cache[] = {
    {512, get_safe_prime_512, nullptr},         {768, BN_get_rfc2409_prime_768, nullptr},
    {1024, BN_get_rfc2409_prime_1024, nullptr}, {1536, BN_get_rfc3526_prime_1536, nullptr},
    {2048, BN_get_rfc3526_prime_2048, nullptr}, {3072, BN_get_rfc3526_prime_3072, nullptr},
    {4096, BN_get_rfc3526_prime_4096, nullptr},
};

// Null when any part cannot be made; nothing is left allocated then.
DH *make_dh_parameters(BIGNUM *(*make_prime)(BIGNUM *)) {
  BIGNUM *prime = make_prime(nullptr);
  BIGNUM *generator = BN_new();
  DH *dh = DH_new();
  if (prime == nullptr || generator == nullptr || dh == nullptr || !BN_set_word(generator, 2) ||
      DH_set0_pqg(dh, prime, nullptr, generator) != 1) {
    BN_free(prime);
    BN_free(generator);
    DH_free(dh);
    return nullptr;
  }
  return dh;
}

}  // namespace

int vorn_ssl_startup() {
  signal(SIGPIPE, SIG_IGN);
  if (init_ssl()) return 1;
  if (debug_level > 0) debug_log("Boot failed, SSL startup is broken.\n");
  return 0;
}

int init_ssl() {
  // Whatever an earlier call left in this thread's queue would otherwise be
  // reported as the reason for a failure below.
  ERR_clear_error();

  // SSL_load_error_strings() and SSL_library_init() are one call in OpenSSL 3.
  if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) !=
      1)
    return init_failed(nullptr);

  // TLS_method() is the version-flexible client-and-server method that
  // SSLv23_method() became.
  const SSL_METHOD *method = TLS_method();
  if (method == nullptr) return init_failed(nullptr);

  SSL_CTX *ctx = SSL_CTX_new(method);
  // A repeated start-up replaces the context. Connection objects made from
  // the old one hold references of their own, so dropping ours is safe.
  SSL_CTX *old = ssl_context.exchange(ctx);
  if (old != nullptr) SSL_CTX_free(old);
  if (ctx == nullptr) return init_failed(nullptr);

  // OpenSSL 3 cannot speak SSL version 2 at all, so SSL_OP_NO_SSLv2 is 0 and
  // setting it proves nothing. The same intent is a protocol floor of SSL 3,
  // or the stricter floor the system configuration already set.
  long floor = SSL_CTX_get_min_proto_version(ctx);
  if (floor < SSL3_VERSION) floor = SSL3_VERSION;
  if (SSL_CTX_set_min_proto_version(ctx, floor) != 1) return init_failed(nullptr);

  if (SSL_CTX_set_cipher_list(ctx, ssl_cipher_list) != 1) return init_failed(nullptr);

  if (ssl_startup_hook != nullptr) ssl_startup_hook();

  SSL_CTX_set_tmp_dh_callback(ctx, get_tmp_dh_callback);

  char message[1024];
  // Verify locations from files only (SSL_CTX_load_verify_file is
  // SSL_CTX_load_verify_locations without the directory).
  if (certificate_chain_file[0] != '\0') {
    if (SSL_CTX_load_verify_file(ctx, certificate_chain_file) != 1) {
      std::snprintf(message, sizeof message,
                    "Error in init_ssl(), unable to load server certificate chain from file '%s'.",
                    certificate_chain_file);
      return init_failed(message);
    }
  }
  for (const extra_chain_file *f = extra_chain_files; f != nullptr; f = f->next) {
    if (SSL_CTX_load_verify_file(ctx, f->path) != 1) {
      std::snprintf(
          message, sizeof message,
          "Error in init_ssl(), unable to load server extra certificate chain from file '%s'.",
          f->path);
      return init_failed(message);
    }
  }
  if (certificate_file[0] != '\0') {
    if (SSL_CTX_use_certificate_file(ctx, certificate_file, SSL_FILETYPE_PEM) != 1) {
      std::snprintf(message, sizeof message,
                    "Error in init_ssl(), unable to load server certificate from file '%s'.",
                    certificate_file);
      return init_failed(message);
    }
  }
  // SSL_CTX_use_RSAPrivateKey_file() is deprecated in OpenSSL 3; the generic
  // loader reads the same PEM RSA keys (and checks them against the
  // certificate just the same).
  if (private_key_file[0] != '\0') {
    if (SSL_CTX_use_PrivateKey_file(ctx, private_key_file, SSL_FILETYPE_PEM) != 1) {
      std::snprintf(message, sizeof message,
                    "Error in init_ssl(), unable to load server private key from file '%s'.",
                    private_key_file);
      return init_failed(message);
    }
  }
  return 1;
}

void vorn_ssl_high_ciphers_no_anonymous() { ssl_cipher_list = "HIGH:@STRENGTH:!aNULL"; }
void vorn_ssl_high_ciphers() { ssl_cipher_list = "HIGH:@STRENGTH"; }
void vorn_ssl_allow_anonymous_ciphers() { ssl_cipher_list = "aNULL:HIGH:@STRENGTH"; }

void vorn_ssl_set_private_key_file(const char *path) { set_file_name(private_key_file, path); }
void vorn_ssl_set_certificate_file(const char *path) { set_file_name(certificate_file, path); }
void vorn_ssl_set_certificate_chain_file(const char *path) {
  set_file_name(certificate_chain_file, path);
}

int vorn_ssl_add_extra_chain_file(const char *path) {
  if (path == nullptr) return 0;
  extra_chain_file *f = new (std::nothrow) extra_chain_file;
  if (f == nullptr) return 0;
  f->path = strdup(path);
  if (f->path == nullptr) {
    delete f;
    return 0;
  }
  f->next = extra_chain_files;
  extra_chain_files = f;
  return 1;
}

void vorn_ssl_clear_extra_chain_files() {
  while (extra_chain_files != nullptr) {
    extra_chain_file *f = extra_chain_files;
    extra_chain_files = f->next;
    std::free(f->path);
    delete f;
  }
}

void vorn_ssl_set_startup_hook(vorn_ssl_startup_hook_function hook) { ssl_startup_hook = hook; }

DH *get_tmp_dh_callback(SSL *, int is_export, int key_length) {
  char message[128];
  if (key_length < 1024) {
    std::snprintf(message, sizeof message,
                  "Warning in get_tmp_dh_callback(), requested short key length %4d, export %d.",
                  key_length, is_export);
    debug_message(message, 128, module_tls);
  }
  for (dh_cache_slot &slot : dh_cache) {
    if (slot.bits != key_length) continue;
    std::lock_guard<std::mutex> lock(dh_cache_mutex);
    if (slot.parameters == nullptr) slot.parameters = make_dh_parameters(slot.make_prime);
    return slot.parameters;
  }
  std::snprintf(message, sizeof message,
                "Warning in get_tmp_dh_callback(), unsupported key length %4d, export %d.",
                key_length, is_export);
  debug_message(message, 64, module_tls);
  return nullptr;
}

void report_ssl_library_error() {
  char text[256];
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  debug_message(text, 1, module_tls);
}

void vorn_report_ssl_error(int code) {
  char text[256];
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  char message[300];
  std::snprintf(message, sizeof message, "%s - err code %d.", text, code);
  debug_message(message, 256, module_network);
}
