// The DTLS 1.2 libraries of Debian 12 side by side: OpenSSL 3.0, GnuTLS 3.7
// and mbedTLS 2.28, client and server in one thread (pinned to one CPU) over
// in-memory datagram pipes, each write one datagram. One JSON object a line:
//   env         versions, the CPU, the load, what one timed call's clock reads cost
//   primitives  OpenSSL EVP's cost of ECDH, ECDSA, HMAC and AES-GCM: the floor,
//               measured again before each library's handshakes
//   library     resumption used, ways to shrink an idle session, Connection ID
//   memory      heap bytes per established idle session, client and server
//               apart: glibc mallinfo2 (uordblks + hblkhd) over N live sessions,
//               each having carried one application record each way
//   park        mbedTLS only: a session serialized and freed, then restored
//   handshake   CPU per handshake of each side: CLOCK_THREAD_CPUTIME_ID around
//               each library call, session object made and freed included; and
//               both sides' CPU with one clock read around all the handshakes
//   done        the failures; the exit status is 1 if any handshake failed
//
//     tovrik_dtls_library_bench [--sessions N] [--handshakes N] [--smoke]
//                               [--only openssl|gnutls|mbedtls] [--cpu N]
#include <malloc.h>
#include <sched.h>
#include <time.h>

#include <gnutls/dtls.h>
#include <gnutls/gnutls.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/pk.h>
#include <mbedtls/ssl.h>
#include <mbedtls/ssl_cookie.h>
#include <mbedtls/ssl_ticket.h>
#include <mbedtls/version.h>
#include <mbedtls/x509_crt.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

enum Kind { kPsk, kEcdhePsk, kCert, kKinds };
const char* const kKindName[] = {"psk", "ecdhe-psk", "ecdhe-ecdsa"};
enum Mode { kPlain, kShrunk, kParked };
const char* const kModeName[] = {"plain", "shrunk", "parked"};

constexpr int kMtu = 1400;  // UDP payload, the same for the three
const unsigned char kPskKey[16] = {0x74, 0x6f, 0x76, 0x72, 0x69, 0x6b, 0x2d, 0x70,
                                0x73, 0x6b, 0x2d, 0x6b, 0x65, 0x79, 0x2d, 0x31};
const char kIdentity[] = "tovrik-device-0001";

int g_failures = 0;
long g_datagrams = 0;

void Fail(const char* lib, const std::string& what)
{
    ++g_failures;
    std::fprintf(stderr, "FAIL %s: %s\n", lib, what.c_str());
}

double CpuNs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

long long HeapInUse()
{
    struct mallinfo2 m = mallinfo2();
    return static_cast<long long>(m.uordblks + m.hblkhd);
}

// What one heap block takes of uordblks: its usable size and its header.
long long ChunkBytes(void* p) { return static_cast<long long>(malloc_usable_size(p) + sizeof(size_t)); }

std::string ReadLine(const char* path, const char* prefix = "")
{
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line))
        if (line.rfind(prefix, 0) == 0)
            return line.substr(std::strlen(prefix));
    return "";
}

// ---- In-memory datagram pipes --------------------------------------------

struct Queue {
    std::vector<std::vector<unsigned char>> datagrams;
    size_t head = 0;

    void Push(const void* data, size_t len)
    {
        auto* bytes = static_cast<const unsigned char*>(data);
        datagrams.emplace_back(bytes, bytes + len);
        ++g_datagrams;
    }
    bool Empty() const { return head == datagrams.size(); }
    const std::vector<unsigned char>* Peek() const { return Empty() ? nullptr : &datagrams[head]; }
    // The next datagram into buf (cut to len), or -1 when there is none.
    long Pop(void* buf, size_t len)
    {
        if (Empty())
            return -1;
        const auto& d = datagrams[head++];
        size_t n = std::min(len, d.size());
        std::memcpy(buf, d.data(), n);
        if (Empty()) {
            datagrams.clear();
            head = 0;
        }
        return static_cast<long>(n);
    }
    void Release()
    {
        std::vector<std::vector<unsigned char>>().swap(datagrams);
        head = 0;
    }
};

struct Link {
    Queue* rx;
    Queue* tx;
};

struct Pipe {
    Queue toServer, toClient;
    Link client{&toClient, &toServer}, server{&toServer, &toClient};
    void Release()
    {
        toServer.Release();
        toClient.Release();
    }
};

// ---- What each library provides ------------------------------------------

struct Options {
    bool resume = false;  // client: offer the session kept by KeepSession
    bool cookie = false;  // server: HelloVerifyRequest first
    bool shrunk = false;  // the library's ways to shrink an idle session
};

class Endpoint {
public:
    virtual ~Endpoint() = default;
    // One handshake step: 1 done, 0 waiting for the peer, -1 failed.
    int Handshake()
    {
        if (done_)
            return 1;
        int r = Step();
        done_ = r == 1;
        return r;
    }
    virtual bool Write(const char* text) = 0;
    virtual int Read(char* buf, int len) = 0;  // bytes, 0 nothing yet, -1 failed
    virtual bool Resumed() = 0;
    virtual std::string Suite() = 0;
    virtual bool Shrink() { return true; }
    virtual bool Park() { return false; }
    virtual bool Unpark() { return false; }

protected:
    virtual int Step() = 0;
    bool done_ = false;
};

class Library {
public:
    virtual ~Library() = default;
    virtual const char* Name() const = 0;
    virtual std::string Version() const = 0;
    virtual std::unique_ptr<Endpoint> Client(Kind kind, Link* link, const Options& o) = 0;
    virtual std::unique_ptr<Endpoint> Server(Kind kind, Link* link, const Options& o) = 0;
    virtual void KeepSession(Kind kind, Endpoint& client) = 0;
    virtual std::vector<Mode> Modes() const { return {kPlain}; }
    virtual const char* ShrinkWays() const = 0;
    virtual const char* Resumption() const = 0;
    virtual std::string Cid() const = 0;  // JSON fields
};

// ---- Test PKI: a P-256 CA, a server and a client certificate ---------------

struct Pki {
    EVP_PKEY *caKey = nullptr, *serverKey = nullptr, *clientKey = nullptr;
    X509 *ca = nullptr, *serverCert = nullptr, *clientCert = nullptr;
    std::string caPem, serverCertPem, serverKeyPem, clientCertPem, clientKeyPem;
} g_pki;

X509* MakeCert(EVP_PKEY* key, const char* cn, X509* issuer, EVP_PKEY* signer, long serial)
{
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -86400);
    X509_gmtime_adj(X509_getm_notAfter(x), 86400L * 365);
    X509_set_pubkey(x, key);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer ? issuer : x, x, nullptr, nullptr, 0);
    const char* const caExt[][2] = {{"basicConstraints", "critical,CA:TRUE"}, {"keyUsage", "critical,keyCertSign"}};
    const char* const leafExt[][2] = {{"basicConstraints", "CA:FALSE"}, {"keyUsage", "critical,digitalSignature"}};
    for (const auto& ext : issuer ? leafExt : caExt) {
        X509_EXTENSION* e = X509V3_EXT_nconf(nullptr, &ctx, ext[0], ext[1]);
        X509_add_ext(x, e, -1);
        X509_EXTENSION_free(e);
    }
    X509_sign(x, signer, EVP_sha256());
    return x;
}

template <class Write>
std::string Pem(Write write)
{
    BIO* bio = BIO_new(BIO_s_mem());
    write(bio);
    char* data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(len));
    BIO_free(bio);
    return pem;
}

void MakePki()
{
    Pki& p = g_pki;
    p.caKey = EVP_EC_gen("P-256");
    p.serverKey = EVP_EC_gen("P-256");
    p.clientKey = EVP_EC_gen("P-256");
    p.ca = MakeCert(p.caKey, "Tovrik bench CA", nullptr, p.caKey, 1);
    p.serverCert = MakeCert(p.serverKey, "server.tovrik.test", p.ca, p.caKey, 2);
    p.clientCert = MakeCert(p.clientKey, "device-0001.tovrik.test", p.ca, p.caKey, 3);
    auto cert = [](X509* x) { return Pem([x](BIO* b) { PEM_write_bio_X509(b, x); }); };
    auto key = [](EVP_PKEY* k) {
        return Pem([k](BIO* b) { PEM_write_bio_PrivateKey(b, k, nullptr, nullptr, 0, nullptr, nullptr); });
    };
    p.caPem = cert(p.ca);
    p.serverCertPem = cert(p.serverCert);
    p.clientCertPem = cert(p.clientCert);
    p.serverKeyPem = key(p.serverKey);
    p.clientKeyPem = key(p.clientKey);
}

// ---- OpenSSL ---------------------------------------------------------------

namespace ossl {

BIO_METHOD* g_pipeMethod;

int BioWrite(BIO* bio, const char* data, int len)
{
    static_cast<Link*>(BIO_get_data(bio))->tx->Push(data, static_cast<size_t>(len));
    return len;
}

int BioRead(BIO* bio, char* data, int len)
{
    BIO_clear_retry_flags(bio);
    long n = static_cast<Link*>(BIO_get_data(bio))->rx->Pop(data, static_cast<size_t>(len));
    if (n < 0) {
        BIO_set_retry_read(bio);
        return -1;
    }
    return static_cast<int>(n);
}

long BioCtrl(BIO*, int cmd, long, void*)
{
    switch (cmd) {
    case BIO_CTRL_FLUSH: return 1;
    case BIO_CTRL_DGRAM_GET_MTU_OVERHEAD: return 28;  // IPv4 + UDP
    default: return 0;
    }
}

unsigned PskClient(SSL*, const char*, char* identity, unsigned maxIdentity, unsigned char* psk, unsigned maxPsk)
{
    if (maxIdentity < sizeof kIdentity || maxPsk < sizeof kPskKey)
        return 0;
    std::memcpy(identity, kIdentity, sizeof kIdentity);
    std::memcpy(psk, kPskKey, sizeof kPskKey);
    return sizeof kPskKey;
}

unsigned PskServer(SSL*, const char* identity, unsigned char* psk, unsigned maxPsk)
{
    if (std::strcmp(identity, kIdentity) != 0 || maxPsk < sizeof kPskKey)
        return 0;
    std::memcpy(psk, kPskKey, sizeof kPskKey);
    return sizeof kPskKey;
}

const unsigned char kCookie[] = "tovrik-cookie-01";
int CookieMake(SSL*, unsigned char* cookie, unsigned* len)
{
    std::memcpy(cookie, kCookie, sizeof kCookie);
    *len = sizeof kCookie;
    return 1;
}
int CookieCheck(SSL*, const unsigned char* cookie, unsigned len)
{
    return len == sizeof kCookie && std::memcmp(cookie, kCookie, len) == 0;
}

class Session : public Endpoint {
public:
    Session(SSL_CTX* ctx, Link* link, bool server, const Options& o, SSL_SESSION* resume)
        : ssl_(SSL_new(ctx))
    {
        BIO* bio = BIO_new(g_pipeMethod);
        BIO_set_data(bio, link);
        BIO_set_init(bio, 1);
        SSL_set_bio(ssl_, bio, bio);
        SSL_set_mtu(ssl_, kMtu);  // with SSL_OP_NO_QUERY_MTU on the context
        if (o.shrunk)
            SSL_set_mode(ssl_, SSL_MODE_RELEASE_BUFFERS);
        if (server) {
            SSL_set_accept_state(ssl_);
            if (o.cookie)
                SSL_set_options(ssl_, SSL_OP_COOKIE_EXCHANGE);
        } else {
            SSL_set_connect_state(ssl_);
            if (resume)
                SSL_set_session(ssl_, resume);
        }
    }
    // Marked shut down, as the others' sessions end without close_notify too:
    // OpenSSL makes the session of a connection freed otherwise not resumable.
    ~Session() override
    {
        SSL_set_shutdown(ssl_, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
        SSL_free(ssl_);
    }
    int Step() override
    {
        int r = SSL_do_handshake(ssl_);
        if (r == 1)
            return 1;
        int e = SSL_get_error(ssl_, r);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
            return 0;
        ERR_print_errors_fp(stderr);
        return -1;
    }
    bool Write(const char* text) override { return SSL_write(ssl_, text, static_cast<int>(std::strlen(text))) > 0; }
    int Read(char* buf, int len) override
    {
        int r = SSL_read(ssl_, buf, len);
        if (r > 0)
            return r;
        return SSL_get_error(ssl_, r) == SSL_ERROR_WANT_READ ? 0 : -1;
    }
    bool Resumed() override { return SSL_session_reused(ssl_) == 1; }
    std::string Suite() override { return SSL_get_cipher_name(ssl_); }
    bool Shrink() override { return SSL_free_buffers(ssl_) == 1; }
    SSL* ssl_;
};

class Lib : public Library {
public:
    Lib()
    {
        g_pipeMethod = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tovrik datagram pipe");
        BIO_meth_set_write(g_pipeMethod, BioWrite);
        BIO_meth_set_read(g_pipeMethod, BioRead);
        BIO_meth_set_ctrl(g_pipeMethod, BioCtrl);
        const char* const ciphers[] = {"PSK-AES128-GCM-SHA256", "ECDHE-PSK-CHACHA20-POLY1305",
                                       "ECDHE-ECDSA-AES128-GCM-SHA256"};
        for (int k = 0; k < kKinds; ++k)
            for (int server = 0; server < 2; ++server) {
                SSL_CTX* ctx = SSL_CTX_new(DTLS_method());
                SSL_CTX_set_min_proto_version(ctx, DTLS1_2_VERSION);
                SSL_CTX_set_max_proto_version(ctx, DTLS1_2_VERSION);
                SSL_CTX_set_options(ctx, SSL_OP_NO_QUERY_MTU);
                SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);  // resumption by ticket
                SSL_CTX_set_session_id_context(ctx, reinterpret_cast<const unsigned char*>("tovrik"), 6);
                SSL_CTX_set_cipher_list(ctx, ciphers[k]);
                SSL_CTX_set1_groups_list(ctx, "P-256");
                if (k == kCert) {
                    SSL_CTX_use_certificate(ctx, server ? g_pki.serverCert : g_pki.clientCert);
                    SSL_CTX_use_PrivateKey(ctx, server ? g_pki.serverKey : g_pki.clientKey);
                    X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx), g_pki.ca);
                    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
                    SSL_CTX_set1_sigalgs_list(ctx, "ECDSA+SHA256");
                } else if (server) {
                    SSL_CTX_set_psk_server_callback(ctx, PskServer);
                } else {
                    SSL_CTX_set_psk_client_callback(ctx, PskClient);
                }
                if (server) {
                    SSL_CTX_set_cookie_generate_cb(ctx, CookieMake);
                    SSL_CTX_set_cookie_verify_cb(ctx, CookieCheck);
                }
                ctx_[k][server] = ctx;
            }
    }
    const char* Name() const override { return "openssl"; }
    std::string Version() const override { return OpenSSL_version(OPENSSL_VERSION); }
    std::unique_ptr<Endpoint> Client(Kind k, Link* link, const Options& o) override
    {
        return std::make_unique<Session>(ctx_[k][0], link, false, o, o.resume ? kept_[k] : nullptr);
    }
    std::unique_ptr<Endpoint> Server(Kind k, Link* link, const Options& o) override
    {
        return std::make_unique<Session>(ctx_[k][1], link, true, o, nullptr);
    }
    void KeepSession(Kind k, Endpoint& client) override
    {
        SSL_SESSION_free(kept_[k]);
        kept_[k] = SSL_get1_session(static_cast<Session&>(client).ssl_);
    }
    std::vector<Mode> Modes() const override { return {kPlain, kShrunk}; }
    const char* ShrinkWays() const override
    {
        return "SSL_MODE_RELEASE_BUFFERS, then SSL_free_buffers() on the idle session (SSL_OP_NO_QUERY_MTU + "
               "SSL_set_mtu(1400) in every mode: a pipe has no MTU to query). No call frees the ~21 KB handshake "
               "buffer (init_buf) that OpenSSL 3.0 keeps for the life of a DTLS-over-UDP connection";
    }
    const char* Resumption() const override { return "session ticket (RFC 5077), server session cache off"; }
    std::string Cid() const override
    {
        return "\"cid\":false,\"cid_note\":\"OpenSSL 3.0 has no DTLS Connection ID: no CID call or option in "
               "openssl/ssl.h, neither RFC 9146 nor the draft\"";
    }

private:
    SSL_CTX* ctx_[kKinds][2];
    SSL_SESSION* kept_[kKinds] = {};
};

}  // namespace ossl

// ---- GnuTLS ----------------------------------------------------------------

namespace gtls {

ssize_t VecPush(gnutls_transport_ptr_t link, const giovec_t* iov, int count)
{
    std::vector<unsigned char> datagram;
    for (int i = 0; i < count; ++i) {
        auto* base = static_cast<const unsigned char*>(iov[i].iov_base);
        datagram.insert(datagram.end(), base, base + iov[i].iov_len);
    }
    static_cast<Link*>(link)->tx->Push(datagram.data(), datagram.size());
    return static_cast<ssize_t>(datagram.size());
}

ssize_t Push(gnutls_transport_ptr_t link, const void* data, size_t len)
{
    static_cast<Link*>(link)->tx->Push(data, len);
    return static_cast<ssize_t>(len);
}

ssize_t Pull(gnutls_transport_ptr_t link, void* data, size_t len)
{
    long n = static_cast<Link*>(link)->rx->Pop(data, len);
    if (n < 0)
        errno = EAGAIN;
    return n;
}

int PullTimeout(gnutls_transport_ptr_t link, unsigned) { return static_cast<Link*>(link)->rx->Empty() ? 0 : 1; }

int PskServer(gnutls_session_t, const char* identity, gnutls_datum_t* key)
{
    if (std::strcmp(identity, kIdentity) != 0)
        return -1;
    key->data = static_cast<unsigned char*>(gnutls_malloc(sizeof kPskKey));
    std::memcpy(key->data, kPskKey, sizeof kPskKey);
    key->size = sizeof kPskKey;
    return 0;
}

gnutls_datum_t Datum(const std::string& s)
{
    return {reinterpret_cast<unsigned char*>(const_cast<char*>(s.data())), static_cast<unsigned>(s.size())};
}

class Lib;

class Session : public Endpoint {
public:
    Session(Lib& lib, Kind k, Link* link, bool server, const Options& o);
    ~Session() override { gnutls_deinit(s_); }
    int Step() override;
    bool Write(const char* text) override { return gnutls_record_send(s_, text, std::strlen(text)) > 0; }
    int Read(char* buf, int len) override
    {
        ssize_t r = gnutls_record_recv(s_, buf, static_cast<size_t>(len));
        if (r > 0)
            return static_cast<int>(r);
        return r == GNUTLS_E_AGAIN || r == GNUTLS_E_INTERRUPTED ? 0 : -1;
    }
    bool Resumed() override { return gnutls_session_is_resumed(s_) != 0; }
    std::string Suite() override
    {
        const char* name = gnutls_ciphersuite_get(s_);
        return name ? name : "?";
    }
    gnutls_session_t s_;

private:
    Lib& lib_;
    Link* link_;
    bool cookie_;
};

class Lib : public Library {
public:
    Lib()
    {
        const char* const base = "NORMAL:-VERS-ALL:+VERS-DTLS1.2:-KX-ALL:-CIPHER-ALL:-MAC-ALL:-GROUP-ALL:"
                                 "+GROUP-SECP256R1:";
        const char* const kinds[] = {"+PSK:+AES-128-GCM:+AEAD", "+ECDHE-PSK:+CHACHA20-POLY1305:+AEAD",
                                     "+ECDHE-ECDSA:+AES-128-GCM:+AEAD:-SIGN-ALL:+SIGN-ECDSA-SHA256"};
        for (int k = 0; k < kKinds; ++k) {
            const char* err = nullptr;
            if (gnutls_priority_init(&prio_[k], (std::string(base) + kinds[k]).c_str(), &err) < 0)
                Fail("gnutls", std::string("priority string at ") + (err ? err : "?"));
        }
        gnutls_psk_allocate_client_credentials(&pskClient_);
        gnutls_datum_t key = {const_cast<unsigned char*>(kPskKey), sizeof kPskKey};
        gnutls_psk_set_client_credentials(pskClient_, kIdentity, &key, GNUTLS_PSK_KEY_RAW);
        gnutls_psk_allocate_server_credentials(&pskServer_);
        gnutls_psk_set_server_credentials_function(pskServer_, PskServer);
        for (int server = 0; server < 2; ++server) {
            gnutls_certificate_allocate_credentials(&cert_[server]);
            gnutls_datum_t c = Datum(server ? g_pki.serverCertPem : g_pki.clientCertPem);
            gnutls_datum_t k = Datum(server ? g_pki.serverKeyPem : g_pki.clientKeyPem);
            gnutls_datum_t ca = Datum(g_pki.caPem);
            if (gnutls_certificate_set_x509_key_mem(cert_[server], &c, &k, GNUTLS_X509_FMT_PEM) < 0 ||
                gnutls_certificate_set_x509_trust_mem(cert_[server], &ca, GNUTLS_X509_FMT_PEM) != 1)
                Fail("gnutls", "loading the certificates");
        }
        gnutls_session_ticket_key_generate(&ticketKey_);
        gnutls_key_generate(&cookieKey_, GNUTLS_COOKIE_KEY_SIZE);
    }
    const char* Name() const override { return "gnutls"; }
    std::string Version() const override { return gnutls_check_version(nullptr); }
    std::unique_ptr<Endpoint> Client(Kind k, Link* link, const Options& o) override
    {
        return std::make_unique<Session>(*this, k, link, false, o);
    }
    std::unique_ptr<Endpoint> Server(Kind k, Link* link, const Options& o) override
    {
        return std::make_unique<Session>(*this, k, link, true, o);
    }
    void KeepSession(Kind k, Endpoint& client) override
    {
        gnutls_free(kept_[k].data);
        gnutls_session_get_data2(static_cast<Session&>(client).s_, &kept_[k]);
    }
    const char* ShrinkWays() const override
    {
        return "none: GnuTLS 3.7 has no call that shrinks an established session (its record buffers are "
               "allocated per record already)";
    }
    const char* Resumption() const override { return "session ticket (RFC 5077)"; }
    std::string Cid() const override
    {
        return "\"cid\":false,\"cid_note\":\"GnuTLS 3.7.9 has no DTLS Connection ID: nothing in gnutls/gnutls.h or "
               "gnutls/dtls.h, neither RFC 9146 nor the draft\"";
    }

    gnutls_priority_t prio_[kKinds];
    gnutls_psk_client_credentials_t pskClient_;
    gnutls_psk_server_credentials_t pskServer_;
    gnutls_certificate_credentials_t cert_[2];
    gnutls_datum_t ticketKey_{}, cookieKey_{}, kept_[kKinds]{};
};

Session::Session(Lib& lib, Kind k, Link* link, bool server, const Options& o)
    : lib_(lib), link_(link), cookie_(server && o.cookie)
{
    gnutls_init(&s_, (server ? GNUTLS_SERVER : GNUTLS_CLIENT) | GNUTLS_DATAGRAM | GNUTLS_NONBLOCK);
    gnutls_priority_set(s_, lib.prio_[k]);
    if (k == kCert) {
        gnutls_credentials_set(s_, GNUTLS_CRD_CERTIFICATE, lib.cert_[server]);
        gnutls_session_set_verify_cert(s_, nullptr, 0);
        if (server)
            gnutls_certificate_server_set_request(s_, GNUTLS_CERT_REQUIRE);
    } else if (server) {
        gnutls_credentials_set(s_, GNUTLS_CRD_PSK, lib.pskServer_);
    } else {
        gnutls_credentials_set(s_, GNUTLS_CRD_PSK, lib.pskClient_);
    }
    gnutls_transport_set_ptr(s_, link);
    gnutls_transport_set_vec_push_function(s_, VecPush);
    gnutls_transport_set_pull_function(s_, Pull);
    gnutls_transport_set_pull_timeout_function(s_, PullTimeout);
    gnutls_dtls_set_mtu(s_, kMtu);
    if (server)
        gnutls_session_ticket_enable_server(s_, &lib.ticketKey_);
    else if (o.resume)
        gnutls_session_set_data(s_, lib.kept_[k].data, lib.kept_[k].size);
}

int Session::Step()
{
    if (cookie_) {  // the stateless exchange a server does before its session
        const std::vector<unsigned char>* hello = link_->rx->Peek();
        if (!hello)
            return 0;
        gnutls_dtls_prestate_st prestate{};
        char peer[] = "peer";
        if (gnutls_dtls_cookie_verify(&lib_.cookieKey_, peer, 4, const_cast<unsigned char*>(hello->data()),
                                      hello->size(), &prestate) < 0) {
            unsigned char drop[2048];
            link_->rx->Pop(drop, sizeof drop);
            gnutls_dtls_cookie_send(&lib_.cookieKey_, peer, 4, &prestate, link_, Push);
            return 0;
        }
        gnutls_dtls_prestate_set(s_, &prestate);
        cookie_ = false;
    }
    int r = gnutls_handshake(s_);
    if (r == 0)
        return 1;
    if (r == GNUTLS_E_AGAIN || r == GNUTLS_E_INTERRUPTED || !gnutls_error_is_fatal(r))
        return 0;
    std::fprintf(stderr, "gnutls_handshake: %s\n", gnutls_strerror(r));
    return -1;
}

}  // namespace gtls

// ---- mbedTLS ---------------------------------------------------------------

namespace mbed {

int Send(void* link, const unsigned char* data, size_t len)
{
    static_cast<Link*>(link)->tx->Push(data, len);
    return static_cast<int>(len);
}

int Recv(void* link, unsigned char* data, size_t len)
{
    long n = static_cast<Link*>(link)->rx->Pop(data, len);
    return n < 0 ? MBEDTLS_ERR_SSL_WANT_READ : static_cast<int>(n);
}

void SetTimer(void*, uint32_t, uint32_t) {}
int GetTimer(void*) { return 0; }  // never expired: the peer answers at once

long g_ticketsTaken = 0;  // mbedTLS 2.28 has no "was it resumed?" call
int ParseTicket(void* ctx, mbedtls_ssl_session* session, unsigned char* buf, size_t len)
{
    int r = mbedtls_ssl_ticket_parse(ctx, session, buf, len);
    g_ticketsTaken += r == 0;
    return r;
}

const int kSuites[kKinds][2] = {{MBEDTLS_TLS_PSK_WITH_AES_128_GCM_SHA256, 0},
                                {MBEDTLS_TLS_ECDHE_PSK_WITH_CHACHA20_POLY1305_SHA256, 0},
                                {MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256, 0}};
const mbedtls_ecp_group_id kCurves[] = {MBEDTLS_ECP_DP_SECP256R1, MBEDTLS_ECP_DP_NONE};
const unsigned char kPeerId[] = "peer";

class Session : public Endpoint {
public:
    Session(const mbedtls_ssl_config* conf, Link* link, bool cookie, const mbedtls_ssl_session* resume)
        : conf_(conf), link_(link), cookie_(cookie), tickets_(g_ticketsTaken)
    {
        Open();
        if (resume)
            mbedtls_ssl_set_session(ssl_.get(), resume);
    }
    ~Session() override { Close(); }
    int Step() override
    {
        int r = mbedtls_ssl_handshake(ssl_.get());
        if (r == 0)
            return 1;
        if (r == MBEDTLS_ERR_SSL_WANT_READ || r == MBEDTLS_ERR_SSL_WANT_WRITE)
            return 0;
        if (r == MBEDTLS_ERR_SSL_HELLO_VERIFY_REQUIRED) {  // sent; the next ClientHello has the cookie
            mbedtls_ssl_session_reset(ssl_.get());
            mbedtls_ssl_set_client_transport_id(ssl_.get(), kPeerId, 4);
            return 0;
        }
        std::fprintf(stderr, "mbedtls_ssl_handshake: -0x%04x\n", static_cast<unsigned>(-r));
        return -1;
    }
    bool Write(const char* text) override
    {
        return mbedtls_ssl_write(ssl_.get(), reinterpret_cast<const unsigned char*>(text), std::strlen(text)) > 0;
    }
    int Read(char* buf, int len) override
    {
        int r = mbedtls_ssl_read(ssl_.get(), reinterpret_cast<unsigned char*>(buf), static_cast<size_t>(len));
        if (r > 0)
            return r;
        return r == MBEDTLS_ERR_SSL_WANT_READ ? 0 : -1;
    }
    bool Resumed() override { return g_ticketsTaken != tickets_; }
    std::string Suite() override { return mbedtls_ssl_get_ciphersuite(ssl_.get()); }
    // The connection serialized (MBEDTLS_SSL_CONTEXT_SERIALIZATION), its context freed.
    bool Park() override
    {
        size_t len = 0;
        mbedtls_ssl_context_save(ssl_.get(), nullptr, 0, &len);
        parked_.resize(len);
        if (mbedtls_ssl_context_save(ssl_.get(), parked_.data(), len, &len) != 0)
            return false;
        Close();
        return true;
    }
    bool Unpark() override
    {
        Open();
        int r = mbedtls_ssl_context_load(ssl_.get(), parked_.data(), parked_.size());
        std::vector<unsigned char>().swap(parked_);
        if (r != 0)
            ssl_.release();  // the failed load has freed it
        else
            mbedtls_ssl_set_mtu(ssl_.get(), kMtu);
        return r == 0;
    }
    mbedtls_ssl_context* Ssl() { return ssl_.get(); }

private:
    void Open()
    {
        ssl_ = std::make_unique<mbedtls_ssl_context>();
        mbedtls_ssl_init(ssl_.get());
        mbedtls_ssl_setup(ssl_.get(), conf_);
        mbedtls_ssl_set_bio(ssl_.get(), link_, Send, Recv, nullptr);
        mbedtls_ssl_set_timer_cb(ssl_.get(), nullptr, SetTimer, GetTimer);
        mbedtls_ssl_set_mtu(ssl_.get(), kMtu);
        if (cookie_)
            mbedtls_ssl_set_client_transport_id(ssl_.get(), kPeerId, 4);
    }
    void Close()
    {
        if (ssl_)
            mbedtls_ssl_free(ssl_.get());
        ssl_.reset();
    }
    const mbedtls_ssl_config* conf_;
    Link* link_;
    bool cookie_;
    long tickets_;
    std::unique_ptr<mbedtls_ssl_context> ssl_;
    std::vector<unsigned char> parked_;
};

class Lib : public Library {
public:
    Lib()
    {
        mbedtls_entropy_init(&entropy_);
        mbedtls_ctr_drbg_init(&drbg_);
        mbedtls_ctr_drbg_seed(&drbg_, mbedtls_entropy_func, &entropy_, nullptr, 0);
        mbedtls_ssl_ticket_init(&ticket_);
        mbedtls_ssl_ticket_setup(&ticket_, mbedtls_ctr_drbg_random, &drbg_, MBEDTLS_CIPHER_AES_128_GCM, 86400);
        mbedtls_ssl_cookie_init(&cookie_);
        mbedtls_ssl_cookie_setup(&cookie_, mbedtls_ctr_drbg_random, &drbg_);
        mbedtls_x509_crt_init(&ca_);
        bool ok = Parse(&ca_, g_pki.caPem) == 0;
        for (int server = 0; server < 2; ++server) {
            mbedtls_x509_crt_init(&crt_[server]);
            mbedtls_pk_init(&key_[server]);
            const std::string& key = server ? g_pki.serverKeyPem : g_pki.clientKeyPem;
            ok = ok && Parse(&crt_[server], server ? g_pki.serverCertPem : g_pki.clientCertPem) == 0 &&
                 mbedtls_pk_parse_key(&key_[server], reinterpret_cast<const unsigned char*>(key.c_str()),
                                      key.size() + 1, nullptr, 0) == 0;
        }
        if (!ok)
            Fail("mbedtls", "loading the certificates");
        // [kind][0] client, [kind][1] server, [kind][2] server with HelloVerifyRequest
        for (int k = 0; k < kKinds; ++k)
            for (int role = 0; role < 3; ++role) {
                mbedtls_ssl_config* c = &conf_[k][role];
                mbedtls_ssl_config_init(c);
                mbedtls_ssl_config_defaults(c, role ? MBEDTLS_SSL_IS_SERVER : MBEDTLS_SSL_IS_CLIENT,
                                            MBEDTLS_SSL_TRANSPORT_DATAGRAM, MBEDTLS_SSL_PRESET_DEFAULT);
                mbedtls_ssl_conf_rng(c, mbedtls_ctr_drbg_random, &drbg_);
                mbedtls_ssl_conf_min_version(c, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
                mbedtls_ssl_conf_max_version(c, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
                mbedtls_ssl_conf_ciphersuites(c, kSuites[k]);
                mbedtls_ssl_conf_curves(c, kCurves);
                if (k == kCert) {
                    mbedtls_ssl_conf_own_cert(c, &crt_[role != 0], &key_[role != 0]);
                    mbedtls_ssl_conf_ca_chain(c, &ca_, nullptr);
                    mbedtls_ssl_conf_authmode(c, MBEDTLS_SSL_VERIFY_REQUIRED);
                } else {
                    mbedtls_ssl_conf_psk(c, kPskKey, sizeof kPskKey, reinterpret_cast<const unsigned char*>(kIdentity),
                                         std::strlen(kIdentity));
                }
                if (role) {
                    mbedtls_ssl_conf_session_tickets_cb(c, mbedtls_ssl_ticket_write, ParseTicket, &ticket_);
                    if (role == 2)
                        mbedtls_ssl_conf_dtls_cookies(c, mbedtls_ssl_cookie_write, mbedtls_ssl_cookie_check, &cookie_);
                    else
                        mbedtls_ssl_conf_dtls_cookies(c, nullptr, nullptr, nullptr);
                }
            }
        for (auto& s : kept_)
            mbedtls_ssl_session_init(&s);
    }
    const char* Name() const override { return "mbedtls"; }
    std::string Version() const override
    {
        char v[32];
        mbedtls_version_get_string_full(v);
        return v;
    }
    std::unique_ptr<Endpoint> Client(Kind k, Link* link, const Options& o) override
    {
        return std::make_unique<Session>(&conf_[k][0], link, false, o.resume ? &kept_[k] : nullptr);
    }
    std::unique_ptr<Endpoint> Server(Kind k, Link* link, const Options& o) override
    {
        return std::make_unique<Session>(&conf_[k][o.cookie ? 2 : 1], link, o.cookie, nullptr);
    }
    void KeepSession(Kind k, Endpoint& client) override
    {
        mbedtls_ssl_session_free(&kept_[k]);
        mbedtls_ssl_session_init(&kept_[k]);
        mbedtls_ssl_get_session(static_cast<Session&>(client).Ssl(), &kept_[k]);
    }
    std::vector<Mode> Modes() const override { return {kPlain, kParked}; }
    const char* ShrinkWays() const override
    {
        return "the live context cannot shrink (Debian's config.h: MBEDTLS_SSL_VARIABLE_BUFFER_LENGTH off, 16 KiB "
               "in and out buffers); parked = mbedtls_ssl_context_save + mbedtls_ssl_free, restored by "
               "mbedtls_ssl_setup + mbedtls_ssl_context_load (MBEDTLS_SSL_CONTEXT_SERIALIZATION, AEAD suites)";
    }
    const char* Resumption() const override { return "session ticket (RFC 5077)"; }
    std::string Cid() const override
    {
        bool compiled = mbedtls_version_check_feature("MBEDTLS_SSL_DTLS_CONNECTION_ID") == 0;
#if defined(MBEDTLS_SSL_DTLS_CONNECTION_ID)
        bool header = true;
#else
        bool header = false;
#endif
        return std::string("\"cid\":") + (compiled && header ? "true" : "false") +
               ",\"cid_built\":" + (compiled ? "true" : "false") + ",\"cid_header\":" + (header ? "true" : "false") +
               ",\"cid_note\":\"mbedTLS 2.28 has the draft-ietf-tls-dtls-connection-id-05 CID (extension 254, "
               "mbedtls_ssl_set_cid) behind MBEDTLS_SSL_DTLS_CONNECTION_ID, which Debian 12's "
               "/usr/include/mbedtls/config.h leaves " +
               (header ? "on" : "commented out (off)") + "; RFC 9146 only in mbedTLS 3.x\"";
    }

private:
    static int Parse(mbedtls_x509_crt* crt, const std::string& pem)
    {
        return mbedtls_x509_crt_parse(crt, reinterpret_cast<const unsigned char*>(pem.c_str()), pem.size() + 1);
    }
    mbedtls_entropy_context entropy_;
    mbedtls_ctr_drbg_context drbg_;
    mbedtls_ssl_ticket_context ticket_;
    mbedtls_ssl_cookie_ctx cookie_;
    mbedtls_x509_crt ca_, crt_[2];
    mbedtls_pk_context key_[2];
    mbedtls_ssl_config conf_[kKinds][3];
    mbedtls_ssl_session kept_[kKinds];
};

}  // namespace mbed

// ---- Primitives' floor (OpenSSL EVP) ---------------------------------------

struct Floor {
    double ecdh, sign, verify, hmac, aead;  // microseconds a operation
};

template <class Op>
double PerOpUs(const char* what, Op op, double seconds)
{
    long n = 0, batch = 1;
    double start = CpuNs(), spent = 0;
    do {
        for (long i = 0; i < batch; ++i)
            if (!op())
                Fail("openssl", what);
        n += batch;
        batch = std::min(batch * 2, 256L);
        spent = CpuNs() - start;
    } while (spent < seconds * 1e9);
    return spent / n / 1e3;
}

Floor Primitives(double seconds)
{
    Floor f{};
    EVP_PKEY* peer = EVP_EC_gen("P-256");
    f.ecdh = PerOpUs("ECDH P-256", [peer] {
        EVP_PKEY* mine = EVP_EC_gen("P-256");
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(mine, nullptr);
        unsigned char secret[32];
        size_t len = sizeof secret;
        bool ok = mine && EVP_PKEY_derive_init(ctx) == 1 && EVP_PKEY_derive_set_peer(ctx, peer) == 1 &&
                  EVP_PKEY_derive(ctx, secret, &len) == 1;
        EVP_PKEY_CTX_free(ctx);
        EVP_PKEY_free(mine);
        return ok;
    }, seconds);
    const unsigned char message[64] = {1, 2, 3};
    unsigned char sig[80];
    size_t sigLen = sizeof sig;
    f.sign = PerOpUs("ECDSA P-256 sign", [&] {
        EVP_MD_CTX* md = EVP_MD_CTX_new();
        sigLen = sizeof sig;
        bool ok = EVP_DigestSignInit(md, nullptr, EVP_sha256(), nullptr, g_pki.serverKey) == 1 &&
                  EVP_DigestSign(md, sig, &sigLen, message, sizeof message) == 1;
        EVP_MD_CTX_free(md);
        return ok;
    }, seconds);
    f.verify = PerOpUs("ECDSA P-256 verify", [&] {
        EVP_MD_CTX* md = EVP_MD_CTX_new();
        bool ok = EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, g_pki.serverKey) == 1 &&
                  EVP_DigestVerify(md, sig, sigLen, message, sizeof message) == 1;
        EVP_MD_CTX_free(md);
        return ok;
    }, seconds);
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* hmac = EVP_MAC_CTX_new(mac);
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
                           OSSL_PARAM_construct_end()};
    EVP_MAC_CTX_set_params(hmac, params);
    f.hmac = PerOpUs("HMAC-SHA256", [&] {
        unsigned char out[32];
        size_t len = 0;
        return EVP_MAC_init(hmac, kPskKey, sizeof kPskKey, nullptr) == 1 && EVP_MAC_update(hmac, message, 64) == 1 &&
               EVP_MAC_final(hmac, out, &len, sizeof out) == 1;
    }, seconds);
    EVP_CIPHER_CTX* gcm = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(gcm, EVP_aes_128_gcm(), nullptr, kPskKey, nullptr);
    f.aead = PerOpUs("AES-128-GCM", [gcm] {
        static unsigned char iv[12], aad[13], plain[200], out[216];
        int len = 0, tail = 0;
        ++iv[11];
        return EVP_EncryptInit_ex(gcm, nullptr, nullptr, nullptr, iv) == 1 &&
               EVP_EncryptUpdate(gcm, nullptr, &len, aad, sizeof aad) == 1 &&
               EVP_EncryptUpdate(gcm, out, &len, plain, sizeof plain) == 1 &&
               EVP_EncryptFinal_ex(gcm, out + len, &tail) == 1 &&
               EVP_CIPHER_CTX_ctrl(gcm, EVP_CTRL_GCM_GET_TAG, 16, out + 200) == 1;
    }, seconds);
    EVP_CIPHER_CTX_free(gcm);
    EVP_MAC_CTX_free(hmac);
    EVP_MAC_free(mac);
    EVP_PKEY_free(peer);
    return f;
}

// The public-key operations each side of a handshake does, plus a rough
// symmetric part (PRF, Finished: ~16 HMACs; two records sealed).
const char* FloorOps(Kind k, bool resumed)
{
    if (resumed || k == kPsk)
        return "16 hmac + 2 aead";
    return k == kEcdhePsk ? "1 ecdh + 16 hmac + 2 aead" : "1 ecdh + 1 sign + 2 verify + 16 hmac + 2 aead";
}

double FloorUs(const Floor& f, Kind k, bool resumed)
{
    double sym = 16 * f.hmac + 2 * f.aead;
    if (resumed || k == kPsk)
        return sym;
    return k == kEcdhePsk ? f.ecdh + sym : f.ecdh + f.sign + 2 * f.verify + sym;
}

// ---- The rounds ------------------------------------------------------------

double g_clockNs = 0;  // what one timed call's two clock reads add

// Sums the thread CPU time of the calls it runs; an off clock only runs them.
struct Clock {
    explicit Clock(bool on = true) : on(on) {}
    bool on;
    double ns = 0;
    long calls = 0;
    template <class F>
    auto operator()(F f)
    {
        if (!on)
            return f();
        double t = CpuNs();
        auto r = f();
        ns += CpuNs() - t;
        ++calls;
        return r;
    }
    double Net() const { return ns - calls * g_clockNs; }
};

bool Handshake(Endpoint& c, Endpoint& s, Clock& cc, Clock& sc)
{
    for (int round = 0; round < 64; ++round) {
        int a = cc([&] { return c.Handshake(); });
        int b = sc([&] { return s.Handshake(); });
        if (a < 0 || b < 0)
            return false;
        if (a == 1 && b == 1)
            return true;
    }
    return false;
}

bool Receive(Endpoint& e, const char* text)
{
    char buf[64];
    for (int tries = 0; tries < 8; ++tries) {
        int n = e.Read(buf, sizeof buf);
        if (n < 0)
            return false;
        if (n > 0)
            return std::string(buf, static_cast<size_t>(n)) == text;
    }
    return false;
}

// One application record each way: the session is in use, and each side
// has seen its peer's records after the handshake.
bool Exchange(Endpoint& c, Endpoint& s)
{
    return c.Write("ping from the device") && Receive(s, "ping from the device") && s.Write("pong") &&
           Receive(c, "pong");
}

bool Establish(Library& lib, Kind k, Pipe& pipe, const Options& o, std::unique_ptr<Endpoint>& c,
               std::unique_ptr<Endpoint>& s)
{
    Clock none(false);
    c = lib.Client(k, &pipe.client, o);
    s = lib.Server(k, &pipe.server, o);
    return Handshake(*c, *s, none, none) && Exchange(*c, *s);
}

void MemoryRound(Library& lib, Kind k, Mode mode, bool cookie, int n)
{
    Options o;
    o.cookie = cookie;
    o.shrunk = mode == kShrunk;
    auto pipes = std::make_unique<Pipe[]>(static_cast<size_t>(n));
    std::vector<std::unique_ptr<Endpoint>> clients(static_cast<size_t>(n)), servers(static_cast<size_t>(n));
    std::string suite;
    int failed = 0;
    for (int i = 0; i < 3; ++i) {  // warm-up: whatever the library makes once, lazily
        Pipe warm;
        std::unique_ptr<Endpoint> c, s;
        failed += !Establish(lib, k, warm, o, c, s);
        suite = c->Suite();
    }
    long long base = HeapInUse();
    for (int i = 0; i < n; ++i) {
        auto& c = clients[static_cast<size_t>(i)];
        auto& s = servers[static_cast<size_t>(i)];
        bool ok = Establish(lib, k, pipes[i], o, c, s);
        if (ok && mode == kShrunk)
            ok = c->Shrink() && s->Shrink();
        if (ok && mode == kParked)
            ok = c->Park() && s->Park();
        failed += !ok;
        pipes[i].Release();
    }
    // Clients freed, then servers: each drop, less the benchmark's own wrapper
    // objects, is that side's; what stays is kept by the library's contexts.
    auto freeAll = [](std::vector<std::unique_ptr<Endpoint>>& side) {
        long long before = HeapInUse(), wrappers = 0;
        for (auto& e : side) {
            wrappers += ChunkBytes(e.get());
            e.reset();
        }
        return before - HeapInUse() - wrappers;
    };
    long long clientBytes = freeAll(clients);
    long long serverBytes = freeAll(servers);
    long long left = HeapInUse() - base;
    std::printf("{\"type\":\"memory\",\"lib\":\"%s\",\"kind\":\"%s\",\"suite\":\"%s\",\"mode\":\"%s\",\"cookie\":%s,"
                "\"sessions\":%d,\"client_bytes\":%lld,\"server_bytes\":%lld,\"left_in_library_bytes\":%lld,"
                "\"failed\":%d}\n",
                lib.Name(), kKindName[k], suite.c_str(), kModeName[mode], cookie ? "true" : "false", n,
                clientBytes / n, serverBytes / n, left / n, failed);
    if (failed)
        Fail(lib.Name(), std::string("memory round ") + kKindName[k] + " " + kModeName[mode] + ": " +
                             std::to_string(failed) + " sessions failed");
}

// A session parked and brought back, which then carries records both ways;
// what each costs.
void ParkRound(Library& lib, Kind k, int n)
{
    Clock parkC, parkS, unparkC, unparkS;
    int failed = 0;
    for (int i = 0; i < n; ++i) {
        Pipe pipe;
        std::unique_ptr<Endpoint> c, s;
        bool ok = Establish(lib, k, pipe, Options(), c, s) && parkC([&] { return c->Park(); }) &&
                  parkS([&] { return s->Park(); }) && unparkC([&] { return c->Unpark(); }) &&
                  unparkS([&] { return s->Unpark(); }) && Exchange(*c, *s);
        failed += !ok;
    }
    auto us = [n](const Clock& c) { return c.Net() / n / 1e3; };
    std::printf("{\"type\":\"park\",\"lib\":\"%s\",\"kind\":\"%s\",\"sessions\":%d,\"park_client_us\":%.2f,"
                "\"park_server_us\":%.2f,\"unpark_client_us\":%.2f,\"unpark_server_us\":%.2f,\"failed\":%d}\n",
                lib.Name(), kKindName[k], n, us(parkC), us(parkS), us(unparkC), us(unparkS), failed);
    if (failed)
        Fail(lib.Name(), std::string("park ") + kKindName[k] + ": " + std::to_string(failed) + " failed");
}

void HandshakeRound(Library& lib, Kind k, bool resumed, int n, const Floor& floor)
{
    Options o;
    o.resume = resumed;
    Pipe pipe;
    if (resumed) {  // one full handshake for the ticket the others offer
        std::unique_ptr<Endpoint> c, s;
        if (!Establish(lib, k, pipe, Options(), c, s)) {
            Fail(lib.Name(), std::string("first full handshake of ") + kKindName[k]);
            return;
        }
        lib.KeepSession(k, *c);
    }
    Clock cc, sc;
    int failed = 0;
    std::string suite;
    long datagrams = g_datagrams;
    for (int i = 0; i < n; ++i) {
        std::unique_ptr<Endpoint> c = cc([&] { return lib.Client(k, &pipe.client, o); });
        std::unique_ptr<Endpoint> s = sc([&] { return lib.Server(k, &pipe.server, o); });
        bool ok = Handshake(*c, *s, cc, sc) && c->Resumed() == resumed;
        if (i == 0)
            suite = c->Suite();
        failed += !ok;
        cc([&] { c.reset(); return 0; });
        sc([&] { s.reset(); return 0; });
        pipe.Release();
    }
    // The same handshakes with one clock read around them all: the check on
    // the per-call figures, whose clock reads cost more than a PSK step.
    double pairStart = CpuNs();
    for (int i = 0; i < n; ++i) {
        Clock none(false);
        std::unique_ptr<Endpoint> c = lib.Client(k, &pipe.client, o), s = lib.Server(k, &pipe.server, o);
        failed += !(Handshake(*c, *s, none, none) && c->Resumed() == resumed);
        c.reset();
        s.reset();
        pipe.Release();
    }
    double pairUs = (CpuNs() - pairStart) / n / 1e3;
    double cUs = cc.Net() / n / 1e3, sUs = sc.Net() / n / 1e3;
    std::printf("{\"type\":\"handshake\",\"lib\":\"%s\",\"kind\":\"%s\",\"resumed\":%s,\"suite\":\"%s\",\"n\":%d,"
                "\"client_us\":%.1f,\"server_us\":%.1f,\"client_per_s\":%.0f,\"server_per_s\":%.0f,"
                "\"both_us_one_clock\":%.1f,\"datagrams\":%.1f,\"floor_ops\":\"%s\",\"floor_us\":%.1f,\"failed\":%d}\n",
                lib.Name(), kKindName[k], resumed ? "true" : "false", suite.c_str(), n, cUs, sUs, 1e6 / cUs,
                1e6 / sUs, pairUs, double(g_datagrams - datagrams) / n / 2, FloorOps(k, resumed),
                FloorUs(floor, k, resumed), failed);
    if (failed)
        Fail(lib.Name(), std::string(resumed ? "resumed " : "full ") + kKindName[k] + ": " +
                             std::to_string(failed) + " of " + std::to_string(2 * n) + " handshakes failed");
}

int PinToOneCpu(int cpu)
{
    cpu_set_t allowed;
    sched_getaffinity(0, sizeof allowed, &allowed);
    if (cpu < 0)
        for (int i = 0; i < CPU_SETSIZE; ++i)
            if (CPU_ISSET(i, &allowed))
                cpu = i;  // the last one allowed
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(0, sizeof one, &one) == 0 ? cpu : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    int sessions = 2000, handshakes = 2000, cpu = -1;
    bool smoke = false;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--sessions" && more)
            sessions = std::atoi(argv[++i]);
        else if (a == "--handshakes" && more)
            handshakes = std::atoi(argv[++i]);
        else if (a == "--only" && more)
            only = argv[++i];
        else if (a == "--cpu" && more)
            cpu = std::atoi(argv[++i]);
        else if (a == "--smoke")
            smoke = true;
        else {
            std::fprintf(stderr, "usage: %s [--sessions N] [--handshakes N] [--smoke] "
                                 "[--only openssl|gnutls|mbedtls] [--cpu N]\n", argv[0]);
            return 64;
        }
    }
    if (smoke)
        sessions = handshakes = 20;
    if (sessions < 1 || handshakes < 1 || !(only.empty() || only == "openssl" || only == "gnutls" ||
                                            only == "mbedtls")) {
        std::fprintf(stderr, "bad --sessions, --handshakes or --only\n");
        return 64;
    }
    cpu = PinToOneCpu(cpu);
    double started = CpuNs();
    timespec wallStart;
    clock_gettime(CLOCK_MONOTONIC, &wallStart);

    Clock probe;
    for (int i = 0; i < 100000; ++i)
        probe([] { return 0; });
    g_clockNs = probe.ns / probe.calls;

    MakePki();
    std::printf("{\"type\":\"env\",\"openssl\":\"%s\",\"gnutls\":\"%s\",\"mbedtls\":\"%s\",\"cpu\":%d,"
                "\"cpu_model\":\"%s\",\"loadavg\":\"%s\",\"clock_ns\":%.0f,\"sessions\":%d,\"handshakes\":%d,"
                "\"mtu\":%d}\n",
                OpenSSL_version(OPENSSL_VERSION), gnutls_check_version(nullptr), MBEDTLS_VERSION_STRING_FULL, cpu,
                ReadLine("/proc/cpuinfo", "model name\t: ").c_str(), ReadLine("/proc/loadavg").c_str(), g_clockNs,
                sessions, handshakes, kMtu);

    const std::pair<const char*, std::function<std::unique_ptr<Library>()>> libraries[] = {
        {"openssl", [] { return std::make_unique<ossl::Lib>(); }},
        {"gnutls", [] { return std::make_unique<gtls::Lib>(); }},
        {"mbedtls", [] { return std::make_unique<mbed::Lib>(); }},
    };
    for (const auto& [name, make] : libraries) {
        if (!only.empty() && only != name)
            continue;
        std::unique_ptr<Library> lib = make();
        std::printf("{\"type\":\"library\",\"lib\":\"%s\",\"version\":\"%s\",\"resumption\":\"%s\","
                    "\"shrink_ways\":\"%s\",%s}\n",
                    lib->Name(), lib->Version().c_str(), lib->Resumption(), lib->ShrinkWays(), lib->Cid().c_str());
        std::fflush(stdout);
        for (int k = 0; k < kKinds; ++k) {
            for (Mode m : lib->Modes())
                MemoryRound(*lib, Kind(k), m, false, sessions);
            if (k == kPsk)
                MemoryRound(*lib, Kind(k), lib->Modes().back(), true, sessions);
            if (lib->Modes().back() == kParked)
                ParkRound(*lib, Kind(k), std::min(sessions, 200));
            std::fflush(stdout);
        }
        // The floor measured again beside each library's handshakes: this
        // machine's speed drifts (a virtual CPU) by as much as half.
        Floor floor = Primitives(smoke ? 0.01 : 0.5);
        std::printf("{\"type\":\"primitives\",\"api\":\"OpenSSL EVP\",\"before\":\"%s\","
                    "\"ecdh_p256_keygen_derive_us\":%.2f,\"ecdsa_p256_sign_us\":%.2f,\"ecdsa_p256_verify_us\":%.2f,"
                    "\"hmac_sha256_64B_us\":%.3f,\"aes128gcm_200B_us\":%.3f}\n",
                    name, floor.ecdh, floor.sign, floor.verify, floor.hmac, floor.aead);
        for (int k = 0; k < kKinds; ++k)
            for (bool resumed : {false, true}) {
                HandshakeRound(*lib, Kind(k), resumed, handshakes, floor);
                std::fflush(stdout);
            }
    }
    timespec wallEnd;
    clock_gettime(CLOCK_MONOTONIC, &wallEnd);
    std::printf("{\"type\":\"done\",\"failures\":%d,\"cpu_s\":%.1f,\"wall_s\":%.1f,\"loadavg\":\"%s\"}\n",
                g_failures, (CpuNs() - started) / 1e9,
                double(wallEnd.tv_sec - wallStart.tv_sec) + (wallEnd.tv_nsec - wallStart.tv_nsec) / 1e9,
                ReadLine("/proc/loadavg").c_str());
    return g_failures ? 1 : 0;
}
