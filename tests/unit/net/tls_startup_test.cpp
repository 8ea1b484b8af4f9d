// TLS start-up: the Diffie-Hellman parameter sets (safe primes, one object per
// length even under concurrent handshakes, the short and unsupported key
// warnings), the context a start-up builds (cipher lists, the DH callback
// proven by a real DHE handshake over a memory BIO pair, certificates, keys and
// chain files with the order they load in), the exact failure reports, and the
// process-wide effects (SIGPIPE ignored, a repeated start-up).
//
// The DH parameter sets are reached through the deprecated DH accessors, as in
// the code under test.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "net/tls_startup.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dh.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"
#include "support/debug_log.h"

namespace {

using testing_support::log_capture;
using testing_support::temp_dir;

const int dh_lengths[] = {512, 768, 1024, 1536, 2048, 3072, 4096};

// A self-signed RSA certificate for CN=localhost with its key, the same key
// in PKCS#8 form, a second key that does not match, and a file that is no PEM
// at all. Made once per test program: RSA key generation is slow.
struct credentials {
  temp_dir dir;
  std::string certificate = dir / "cert.pem";
  std::string rsa_key = dir / "key-rsa.pem";      // "BEGIN RSA PRIVATE KEY"
  std::string pkcs8_key = dir / "key-pkcs8.pem";  // "BEGIN PRIVATE KEY"
  std::string other_key = dir / "other-key.pem";
  std::string not_pem = dir / "not-pem.txt";
  std::string missing = dir / "missing.pem";
};

bool write_pem(const std::string &path, const std::function<int(BIO *)> &write) {
  BIO *out = BIO_new_file(path.c_str(), "w");
  if (out == nullptr) return false;
  bool ok = write(out) == 1;
  return BIO_free(out) == 1 && ok;
}

bool make_credentials(const credentials &c) {
  EVP_PKEY *key = EVP_RSA_gen(2048);
  EVP_PKEY *other = EVP_RSA_gen(2048);
  X509 *x = X509_new();
  bool ok = key != nullptr && other != nullptr && x != nullptr;
  if (ok) {
    X509_NAME *name = X509_get_subject_name(x);
    ok = X509_set_version(x, 2) && ASN1_INTEGER_set(X509_get_serialNumber(x), 1) &&
         X509_gmtime_adj(X509_getm_notBefore(x), 0) &&
         X509_gmtime_adj(X509_getm_notAfter(x), 86400) && X509_set_pubkey(x, key) &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char *>("localhost"), -1, -1,
                                    0) &&
         X509_set_issuer_name(x, name) && X509_sign(x, key, EVP_sha256()) > 0;
  }
  ok = ok && write_pem(c.certificate, [&](BIO *f) { return PEM_write_bio_X509(f, x); }) &&
       write_pem(c.rsa_key,
                 [&](BIO *f) {
                   return PEM_write_bio_PrivateKey_traditional(f, key, nullptr, nullptr, 0, nullptr,
                                                               nullptr);
                 }) &&
       write_pem(c.pkcs8_key,
                 [&](BIO *f) {
                   return PEM_write_bio_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
                 }) &&
       write_pem(c.other_key, [&](BIO *f) {
         return PEM_write_bio_PrivateKey(f, other, nullptr, nullptr, 0, nullptr, nullptr);
       });
  testing_support::write_file(c.not_pem, "this is not a certificate\n");
  X509_free(x);
  EVP_PKEY_free(other);
  EVP_PKEY_free(key);
  return ok;
}

std::vector<std::string> cipher_names(const STACK_OF(SSL_CIPHER) * ciphers) {
  std::vector<std::string> names;
  for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i)
    names.push_back(SSL_CIPHER_get_name(sk_SSL_CIPHER_value(ciphers, i)));
  return names;
}

// What OpenSSL makes of `list` on a context of its own.
std::vector<std::string> reference_ciphers(const char *list) {
  SSL_CTX *ctx = SSL_CTX_new(TLS_method());
  std::vector<std::string> names;
  if (ctx != nullptr && SSL_CTX_set_cipher_list(ctx, list) == 1)
    names = cipher_names(SSL_CTX_get_ciphers(ctx));
  SSL_CTX_free(ctx);
  return names;
}

int anonymous_cipher_count(const STACK_OF(SSL_CIPHER) * ciphers) {
  int count = 0;
  for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i)
    if (SSL_CIPHER_get_auth_nid(sk_SSL_CIPHER_value(ciphers, i)) == NID_auth_null) ++count;
  return count;
}

// Runs a client and a server handshake against each other over a memory BIO
// pair; true when both finish.
bool handshake(SSL *client, SSL *server) {
  BIO *client_end = nullptr;
  BIO *server_end = nullptr;
  if (BIO_new_bio_pair(&client_end, 0, &server_end, 0) != 1) return false;
  SSL_set_bio(client, client_end, client_end);
  SSL_set_bio(server, server_end, server_end);
  SSL_set_connect_state(client);
  SSL_set_accept_state(server);
  bool client_done = false;
  bool server_done = false;
  // One step of one side: false when it failed for good.
  auto step = [](SSL *ssl, bool *done) {
    if (*done) return true;
    int r = SSL_do_handshake(ssl);
    if (r == 1) *done = true;
    int kind = SSL_get_error(ssl, r);
    return r == 1 || kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE;
  };
  for (int round = 0; round < 50 && !(client_done && server_done); ++round)
    if (!step(client, &client_done) || !step(server, &server_done)) return false;
  return client_done && server_done;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// Every test starts from the defaults and puts them back: the settings are
// process-wide, and the program may run all tests in one process.
class TlsStartupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    files_ = new credentials;
    ASSERT_TRUE(make_credentials(*files_));
  }
  static void TearDownTestSuite() {
    delete files_;
    files_ = nullptr;
  }
  void TearDown() override {
    vorn_ssl_high_ciphers_no_anonymous();
    vorn_ssl_set_private_key_file(nullptr);
    vorn_ssl_set_certificate_file(nullptr);
    vorn_ssl_set_certificate_chain_file(nullptr);
    vorn_ssl_clear_extra_chain_files();
    vorn_ssl_set_startup_hook(nullptr);
    ERR_clear_error();
  }

  static credentials *files_;
};

credentials *TlsStartupTest::files_ = nullptr;

// The threads race to fill the cache only while it is empty: when the test
// runs alone in its process, as under ctest, or first in the program.
TEST_F(TlsStartupTest, ConcurrentRequestsShareOneParameterSetPerLength) {
  log_capture log;
  constexpr int thread_count = 8;
  constexpr int length_count = sizeof dh_lengths / sizeof dh_lengths[0];
  DH *seen[thread_count][length_count] = {};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t) {
    threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      // Each thread walks the lengths from a different starting point, so
      // first requests for every length meet each other.
      for (int i = 0; i < length_count; ++i) {
        int k = (i + t) % length_count;
        seen[t][k] = get_tmp_dh_callback(nullptr, 0, dh_lengths[k]);
      }
    });
  }
  go = true;
  for (std::thread &t : threads) t.join();

  for (int k = 0; k < length_count; ++k) {
    SCOPED_TRACE(dh_lengths[k]);
    ASSERT_NE(seen[0][k], nullptr);
    for (int t = 1; t < thread_count; ++t) EXPECT_EQ(seen[t][k], seen[0][k]);
    for (int j = 0; j < k; ++j) EXPECT_NE(seen[0][j], seen[0][k]);
  }
  // 512 and 768 are short: one warning per thread and length.
  EXPECT_EQ(lines_of(log.text()).size(), 2u * thread_count);
}

TEST_F(TlsStartupTest, EveryParameterSetIsASafePrimeOfItsLengthWithGenerator2) {
  log_capture log;  // keeps the short-key warnings out of the test's output
  BN_CTX *bn = BN_CTX_new();
  BIGNUM *half = BN_new();
  ASSERT_NE(bn, nullptr);
  ASSERT_NE(half, nullptr);
  for (int bits : dh_lengths) {
    SCOPED_TRACE(bits);
    const DH *dh = get_tmp_dh_callback(nullptr, 0, bits);
    ASSERT_NE(dh, nullptr);
    const BIGNUM *p = DH_get0_p(dh);
    const BIGNUM *g = DH_get0_g(dh);
    ASSERT_NE(p, nullptr);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(BN_num_bits(p), bits);  // exactly `bits` long, so the top bit is set
    EXPECT_EQ(BN_num_bytes(p), bits / 8);
    EXPECT_TRUE(BN_is_word(g, 2));
    EXPECT_EQ(BN_check_prime(p, bn, nullptr), 1);
    ASSERT_EQ(BN_rshift1(half, p), 1);  // (p - 1) / 2, p being odd
    EXPECT_EQ(BN_check_prime(half, bn, nullptr), 1) << "not a safe prime";
  }
  BN_free(half);
  BN_CTX_free(bn);
}

TEST_F(TlsStartupTest, ShortKeyLengthsAreReportedAndUnsupportedOnesRefused) {
  struct key_case {
    int length;
    int is_export;
    bool supported;
    const char *log;
  };
  const key_case cases[] = {
      {512, 1, true,
       "Warning in get_tmp_dh_callback(), requested short key length  512, export 1.\n"},
      {768, 0, true,
       "Warning in get_tmp_dh_callback(), requested short key length  768, export 0.\n"},
      {1024, 0, true, ""},
      {2048, 0, true, ""},
      {4096, 0, true, ""},
      {1000, 0, false,
       "Warning in get_tmp_dh_callback(), requested short key length 1000, export 0.\n"
       "Warning in get_tmp_dh_callback(), unsupported key length 1000, export 0.\n"},
      {0, 1, false,
       "Warning in get_tmp_dh_callback(), requested short key length    0, export 1.\n"
       "Warning in get_tmp_dh_callback(), unsupported key length    0, export 1.\n"},
      {8192, 0, false,
       "Warning in get_tmp_dh_callback(), unsupported key length 8192, export 0.\n"},
  };
  for (const key_case &c : cases) {
    SCOPED_TRACE(c.length);
    log_capture log;
    DH *first = get_tmp_dh_callback(nullptr, c.is_export, c.length);
    EXPECT_EQ(log.text(), c.log);
    if (!c.supported) {
      EXPECT_EQ(first, nullptr);
      continue;
    }
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(DH_bits(first), c.length);
    EXPECT_EQ(get_tmp_dh_callback(nullptr, 0, c.length), first);
  }
}

namespace hook_record {
int calls = 0;
SSL_CTX *context = nullptr;
std::vector<std::string> ciphers;
void hook() {
  ++calls;
  context = ssl_context;
  ciphers = cipher_names(SSL_CTX_get_ciphers(ssl_context));
}
}  // namespace hook_record

TEST_F(TlsStartupTest, StartupWithoutFilesBuildsAContextWithoutAnonymousCiphers) {
  log_capture log;
  vorn_ssl_set_startup_hook(hook_record::hook);
  ASSERT_EQ(init_ssl(), 1);
  SSL_CTX *ctx = ssl_context;
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(log.text(), "");

  EXPECT_STREQ(ssl_cipher_list, "HIGH:@STRENGTH:!aNULL");
  std::vector<std::string> expected = reference_ciphers("HIGH:@STRENGTH:!aNULL");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(cipher_names(SSL_CTX_get_ciphers(ctx)), expected);
  EXPECT_EQ(anonymous_cipher_count(SSL_CTX_get_ciphers(ctx)), 0);
  EXPECT_GE(SSL_CTX_get_min_proto_version(ctx), SSL3_VERSION);
  EXPECT_EQ(SSL_CTX_get0_certificate(ctx), nullptr);

  // The hook ran once, on the new context, after its cipher list was set.
  EXPECT_EQ(hook_record::calls, 1);
  EXPECT_EQ(hook_record::context, ctx);
  EXPECT_EQ(hook_record::ciphers, expected);
}

TEST_F(TlsStartupTest, CipherSettersChooseTheListOfTheNextContext) {
  struct cipher_case {
    void (*setter)();
    const char *list;
    bool anonymous;
  };
  const cipher_case cases[] = {
      {vorn_ssl_high_ciphers, "HIGH:@STRENGTH", true},
      {vorn_ssl_allow_anonymous_ciphers, "aNULL:HIGH:@STRENGTH", true},
      {vorn_ssl_high_ciphers_no_anonymous, "HIGH:@STRENGTH:!aNULL", false},
  };
  for (const cipher_case &c : cases) {
    SCOPED_TRACE(c.list);
    c.setter();
    EXPECT_STREQ(ssl_cipher_list, c.list);
    ASSERT_EQ(init_ssl(), 1);
    const STACK_OF(SSL_CIPHER) *ciphers = SSL_CTX_get_ciphers(ssl_context);
    EXPECT_EQ(cipher_names(ciphers), reference_ciphers(c.list));
    EXPECT_EQ(anonymous_cipher_count(ciphers) > 0, c.anonymous);
  }
}

// The context's only source of DH parameters is the callback: a DHE handshake
// finishes only if the callback is installed, and the server's key exchange
// then carries the cached set OpenSSL asked for.
TEST_F(TlsStartupTest, DheHandshakeUsesTheCallbacksParameters) {
  vorn_ssl_set_certificate_file(files_->certificate.c_str());
  vorn_ssl_set_private_key_file(files_->rsa_key.c_str());
  ASSERT_EQ(init_ssl(), 1);

  const char *dhe = "DHE-RSA-AES128-GCM-SHA256";
  SSL_CTX *client_ctx = SSL_CTX_new(TLS_client_method());
  ASSERT_NE(client_ctx, nullptr);
  SSL *client = SSL_new(client_ctx);
  SSL *server = SSL_new(ssl_context);
  ASSERT_NE(client, nullptr);
  ASSERT_NE(server, nullptr);
  for (SSL *ssl : {client, server}) {
    // DHE exists up to TLS 1.2 only; OpenSSL 3 asks the callback for 1024 bits,
    // which security level 2 would refuse.
    ASSERT_EQ(SSL_set_max_proto_version(ssl, TLS1_2_VERSION), 1);
    ASSERT_EQ(SSL_set_cipher_list(ssl, dhe), 1);
    SSL_set_security_level(ssl, 1);
  }

  ASSERT_TRUE(handshake(client, server)) << ERR_error_string(ERR_get_error(), nullptr);
  EXPECT_STREQ(SSL_CIPHER_get_name(SSL_get_current_cipher(client)), dhe);

  EVP_PKEY *server_key = nullptr;
  ASSERT_EQ(SSL_get_peer_tmp_key(client, &server_key), 1);
  BIGNUM *prime = nullptr;
  ASSERT_EQ(EVP_PKEY_get_bn_param(server_key, OSSL_PKEY_PARAM_FFC_P, &prime), 1);
  const DH *cached = get_tmp_dh_callback(nullptr, 0, BN_num_bits(prime));
  ASSERT_NE(cached, nullptr);
  EXPECT_EQ(BN_cmp(prime, DH_get0_p(cached)), 0);

  BN_free(prime);
  EVP_PKEY_free(server_key);
  SSL_free(server);
  SSL_free(client);
  SSL_CTX_free(client_ctx);
}

TEST_F(TlsStartupTest, MatchingCertificateAndKeyLoadInEitherPemForm) {
  for (const std::string &key : {files_->rsa_key, files_->pkcs8_key}) {
    SCOPED_TRACE(key);
    log_capture log;
    vorn_ssl_set_certificate_file(files_->certificate.c_str());
    vorn_ssl_set_private_key_file(key.c_str());
    ASSERT_EQ(init_ssl(), 1);
    EXPECT_NE(SSL_CTX_get0_certificate(ssl_context), nullptr);
    EXPECT_EQ(SSL_CTX_check_private_key(ssl_context), 1);
    EXPECT_EQ(log.text(), "");
  }
}

// Each failure writes its message and then exactly one line, the oldest error
// in the library's queue.
TEST_F(TlsStartupTest, LoadFailuresNameTheFileAndTheLibraryReason) {
  struct failure_case {
    const char *name;
    std::string certificate, key, chain;
    std::string message;
    const char *reason;
  };
  const credentials &f = *files_;
  const failure_case cases[] = {
      {"missing certificate", f.missing, "", "",
       "Error in init_ssl(), unable to load server certificate from file '" + f.missing + "'.",
       "No such file or directory"},
      {"certificate file without a certificate", f.not_pem, "", "",
       "Error in init_ssl(), unable to load server certificate from file '" + f.not_pem + "'.",
       "no start line"},
      {"key of another certificate", f.certificate, f.other_key, "",
       "Error in init_ssl(), unable to load server private key from file '" + f.other_key + "'.",
       "key values mismatch"},
      {"missing key", "", f.missing, "",
       "Error in init_ssl(), unable to load server private key from file '" + f.missing + "'.",
       "No such file or directory"},
      // The chain is loaded first, so its failure is the one reported.
      {"chain file without certificates before a missing certificate", f.missing, "", f.not_pem,
       "Error in init_ssl(), unable to load server certificate chain from file '" + f.not_pem +
           "'.",
       "no certificate or crl found"},
  };
  for (const failure_case &c : cases) {
    SCOPED_TRACE(c.name);
    log_capture log;
    vorn_ssl_set_certificate_file(c.certificate.c_str());
    vorn_ssl_set_private_key_file(c.key.c_str());
    vorn_ssl_set_certificate_chain_file(c.chain.c_str());
    EXPECT_EQ(init_ssl(), 0);
    // The context made before the failing step stays.
    EXPECT_NE(ssl_context.load(), nullptr);
    std::vector<std::string> lines = lines_of(log.text());
    ASSERT_EQ(lines.size(), 2u) << log.text();
    EXPECT_EQ(lines[0], c.message);
    EXPECT_EQ(lines[1].rfind("error:", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(c.reason), std::string::npos) << lines[1];
    // Nothing of this failure is left to be taken for the reason of a later one.
    EXPECT_EQ(ERR_peek_error(), 0u);
  }
}

TEST_F(TlsStartupTest, ExtraChainFilesLoadLastAddedFirstAndTheFirstFailureIsNamed) {
  struct chain_case {
    const char *name;
    std::string chain;
    std::vector<std::string> added;  // in the order of the calls
    std::string failing;             // "" when init_ssl succeeds
    bool extra;                      // the failing file is an extra one
  };
  const credentials &f = *files_;
  const std::string missing_a = f.dir / "a.pem";
  const std::string missing_b = f.dir / "b.pem";
  const chain_case cases[] = {
      {"all load", f.certificate, {f.certificate, f.certificate}, "", false},
      {"extras without a chain file", "", {f.certificate}, "", false},
      {"the last added is tried first", "", {f.certificate, missing_b, missing_a}, missing_a, true},
      {"earlier ones load before a failure", "", {missing_a, f.certificate}, missing_a, true},
      {"a file without certificates", "", {f.not_pem}, f.not_pem, true},
      {"the chain file before the extras", f.missing, {missing_a}, f.missing, false},
  };
  for (const chain_case &c : cases) {
    SCOPED_TRACE(c.name);
    vorn_ssl_clear_extra_chain_files();
    vorn_ssl_set_certificate_chain_file(c.chain.c_str());
    for (const std::string &path : c.added)
      ASSERT_EQ(vorn_ssl_add_extra_chain_file(path.c_str()), 1);
    log_capture log;
    if (c.failing.empty()) {
      EXPECT_EQ(init_ssl(), 1);
      EXPECT_EQ(log.text(), "");
      continue;
    }
    EXPECT_EQ(init_ssl(), 0);
    std::vector<std::string> lines = lines_of(log.text());
    ASSERT_EQ(lines.size(), 2u) << log.text();
    EXPECT_EQ(lines[0], std::string("Error in init_ssl(), unable to load server ") +
                            (c.extra ? "extra " : "") + "certificate chain from file '" +
                            c.failing + "'.");
  }
  EXPECT_EQ(vorn_ssl_add_extra_chain_file(nullptr), 0);
}

TEST_F(TlsStartupTest, FileNamesAreCutTo511CharactersAndNullMeansNone) {
  struct field_case {
    void (*setter)(const char *);
    const char *message_start;
  };
  const field_case cases[] = {
      {vorn_ssl_set_certificate_chain_file,
       "Error in init_ssl(), unable to load server certificate chain from file '"},
      {vorn_ssl_set_certificate_file,
       "Error in init_ssl(), unable to load server certificate from file '"},
      {vorn_ssl_set_private_key_file,
       "Error in init_ssl(), unable to load server private key from file '"},
  };
  const std::string long_name = files_->dir / std::string(600, 'k');
  for (const field_case &c : cases) {
    SCOPED_TRACE(c.message_start);
    log_capture log;
    c.setter(long_name.c_str());
    EXPECT_EQ(init_ssl(), 0);
    EXPECT_EQ(lines_of(log.text()).at(0), c.message_start + long_name.substr(0, 511) + "'.");
    c.setter(nullptr);
    EXPECT_EQ(init_ssl(), 1);
  }
}

TEST_F(TlsStartupTest, StartupIgnoresSigpipeSoWritesToAClosedPipeFail) {
  struct sigaction saved {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &saved), 0);
  signal(SIGPIPE, SIG_DFL);

  log_capture log;
  EXPECT_EQ(vorn_ssl_startup(), 1);
  EXPECT_EQ(log.text(), "");
  struct sigaction now {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_IGN);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  errno = 0;
  EXPECT_EQ(write(fds[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  close(fds[1]);
  sigaction(SIGPIPE, &saved, nullptr);
}

TEST_F(TlsStartupTest, FailedStartupReportsABrokenBoot) {
  vorn_ssl_set_certificate_file(files_->missing.c_str());
  {
    log_capture log;
    EXPECT_EQ(vorn_ssl_startup(), 0);
    std::vector<std::string> lines = lines_of(log.text());
    ASSERT_EQ(lines.size(), 3u) << log.text();
    EXPECT_EQ(lines[0], "Error in init_ssl(), unable to load server certificate from file '" +
                            files_->missing + "'.");
    EXPECT_EQ(lines[2], "Boot failed, SSL startup is broken.");
  }
  // The boot report belongs to the launcher's log level, not to the filter.
  log_capture quiet(0);
  EXPECT_EQ(vorn_ssl_startup(), 0);
  EXPECT_EQ(quiet.text(), "");
}

TEST_F(TlsStartupTest, ARepeatedStartupReplacesTheContextAndLiveConnectionsKeepTheOldOne) {
  ASSERT_EQ(init_ssl(), 1);
  SSL_CTX *first = ssl_context;
  SSL *connection = SSL_new(first);
  ASSERT_NE(connection, nullptr);

  vorn_ssl_high_ciphers();
  ASSERT_EQ(init_ssl(), 1);
  EXPECT_NE(ssl_context.load(), first);
  // The connection still reaches its own context and that context's list.
  EXPECT_EQ(SSL_get_SSL_CTX(connection), first);
  EXPECT_EQ(cipher_names(SSL_CTX_get_ciphers(SSL_get_SSL_CTX(connection))),
            reference_ciphers("HIGH:@STRENGTH:!aNULL"));
  SSL_free(connection);
}

TEST_F(TlsStartupTest, SocketErrorReportTakesTheOldestErrorAndAddsTheCode) {
  ASSERT_EQ(init_ssl(), 1);  // loads the error texts
  ERR_raise(ERR_LIB_SSL, SSL_R_NO_CIPHER_MATCH);
  ERR_raise(ERR_LIB_SSL, SSL_R_BAD_LENGTH);
  {
    log_capture log(3);  // the report is verbose text
    vorn_report_ssl_error(5);
    vorn_report_ssl_error(1);
    std::vector<std::string> lines = lines_of(log.text());
    ASSERT_EQ(lines.size(), 2u) << log.text();
    const char *suffixes[] = {"no cipher match - err code 5.", "bad length - err code 1."};
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(lines[i].rfind("error:", 0), 0u) << lines[i];
      const std::string suffix = suffixes[i];
      ASSERT_GE(lines[i].size(), suffix.size());
      EXPECT_EQ(lines[i].substr(lines[i].size() - suffix.size()), suffix);
    }
  }
  ERR_raise(ERR_LIB_SSL, SSL_R_NO_CIPHER_MATCH);
  log_capture normal(1);
  vorn_report_ssl_error(5);
  EXPECT_EQ(normal.text(), "");
}

}  // namespace
