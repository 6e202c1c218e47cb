// Checks that the private ejabberd of the test run is what the XMPP and client tests rely on:
// STARTTLS is required, the certificates name the right hosts and chain to the test CA, and
// every account signs in with its password (PLAIN) and its token (X-OAUTH2).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "tests/server/test_server.h"

namespace {

using norvo_test::ParseTestServer;
using norvo_test::TestServer;

const char kStreamHeader[] =
    "<?xml version='1.0'?><stream:stream to='localhost' xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams' version='1.0'>";

std::string Base64(const std::string& in) {
  std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(in.data()),
                          static_cast<int>(in.size()));
  out.resize(n < 0 ? 0 : n);
  return out;
}

// One client connection, spoken by hand: just enough XMPP to reach TLS and one SASL answer.
// Every read gives up after ten seconds, so a silent server ends the test instead of hanging it.
class Probe {
 public:
  ~Probe() {
    if (ssl_ != nullptr) SSL_free(ssl_);
    if (ctx_ != nullptr) SSL_CTX_free(ctx_);
    if (fd_ >= 0) close(fd_);
  }

  // Connects, opens the stream, asks for TLS and does the handshake, checking the certificate
  // against ca_file and verify_name. Returns an empty text on success, else what failed.
  std::string StartTls(const TestServer& server, int port, const std::string& verify_name) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return "socket failed";
    timeval tv{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, server.host.c_str(), &addr.sin_addr);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
      return "connect failed";
    }
    if (!SendPlain(kStreamHeader)) return "send failed";
    plain_features_ = ReadPlainUntil("</stream:features>");
    if (plain_features_.find("</stream:features>") == std::string::npos) return "no features";
    if (!SendPlain("<starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>")) return "send failed";
    if (ReadPlainUntil("/>").find("<proceed") == std::string::npos) return "no proceed";

    ctx_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_load_verify_locations(ctx_, server.ca_file.c_str(), nullptr) != 1) {
      return "cannot load the CA file";
    }
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    SSL_set_tlsext_host_name(ssl_, server.domain.c_str());
    SSL_set1_host(ssl_, verify_name.c_str());
    if (SSL_connect(ssl_) != 1) {
      long verify = SSL_get_verify_result(ssl_);
      return verify != X509_V_OK ? X509_verify_cert_error_string(verify) : "handshake failed";
    }
    return std::string();
  }

  // After StartTls: opens the new stream and tries one SASL mechanism. Returns the server's
  // answer element ("<success .../>" or "<failure ...>...</failure>").
  std::string Authenticate(const std::string& mechanism, const std::string& user,
                           const std::string& secret) {
    if (!SendTls(kStreamHeader)) return "send failed";
    tls_features_ = ReadTlsUntil("</stream:features>");
    std::string auth = "<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='" + mechanism +
                       "'>" + Base64(std::string(1, '\0') + user + '\0' + secret) + "</auth>";
    if (!SendTls(auth)) return "send failed";
    std::string reply = ReadTlsUntil("</failure>", "<success");
    size_t at = reply.find("<success");
    if (at == std::string::npos) at = reply.find("<failure");
    return at == std::string::npos ? reply : reply.substr(at);
  }

  const std::string& plain_features() const { return plain_features_; }
  const std::string& tls_features() const { return tls_features_; }

 private:
  bool SendPlain(const std::string& text) {
    return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  bool SendTls(const std::string& text) {
    return SSL_write(ssl_, text.data(), static_cast<int>(text.size())) ==
           static_cast<int>(text.size());
  }
  // Reads byte by byte before TLS so that nothing of the TLS handshake is swallowed.
  std::string ReadPlainUntil(const std::string& marker) {
    std::string text;
    char c;
    while (text.find(marker) == std::string::npos && text.size() < 65536 &&
           recv(fd_, &c, 1, 0) == 1) {
      text += c;
    }
    return text;
  }
  std::string ReadTlsUntil(const std::string& marker, const std::string& other = "\x01") {
    std::string text;
    char chunk[4096];
    while (text.find(marker) == std::string::npos && text.find(other) == std::string::npos &&
           text.size() < 65536) {
      int n = SSL_read(ssl_, chunk, sizeof(chunk));
      if (n <= 0) break;
      text.append(chunk, n);
    }
    return text;
  }

  int fd_ = -1;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  std::string plain_features_;
  std::string tls_features_;
};

class LiveServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    loaded_ = norvo_test::LoadTestServer(&error);
    ASSERT_TRUE(loaded_) << error;
  }
  const TestServer& server() const { return *loaded_; }

 private:
  std::optional<TestServer> loaded_;
};

TEST_F(LiveServer, StreamOffersOnlyRequiredStartTlsBeforeEncryption) {
  Probe probe;
  ASSERT_EQ("", probe.StartTls(server(), server().port, "localhost"));
  EXPECT_NE(std::string::npos, probe.plain_features().find("<required/>"));
  EXPECT_EQ(std::string::npos, probe.plain_features().find("<mechanisms"));
}

TEST_F(LiveServer, CertificatesNameTheirHostsAndChainToTheTestCa) {
  struct Case {
    bool wrong_name_port;
    std::string verify_name;
    std::string expected_error;  // a part of the error; empty: the handshake must succeed
  };
  const Case cases[] = {
      {false, "localhost", ""},
      {true, "localhost", "mismatch"},
      // The second node's certificate is valid in every other respect.
      {true, "wrong.example", ""},
      // The XMPP domain is checked, not the address that was dialled.
      {false, "127.0.0.1", "mismatch"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.wrong_name_port ? "wrong-name port, " : "main port, ") + c.verify_name);
    Probe probe;
    int port = c.wrong_name_port ? server().wrong_name_port : server().port;
    std::string error = probe.StartTls(server(), port, c.verify_name);
    if (c.expected_error.empty()) {
      EXPECT_EQ("", error);
    } else {
      EXPECT_NE(std::string::npos, error.find(c.expected_error)) << error;
    }
  }
}

TEST_F(LiveServer, EveryAccountSignsInWithItsPasswordAndItsTokenOnly) {
  for (const auto& [name, account] : server().accounts) {
    SCOPED_TRACE(name);
    const std::string other_token = server().account(name == "hub" ? "device" : "hub").token;
    struct Case {
      std::string mechanism;
      std::string secret;
      bool accepted;
    };
    const Case cases[] = {
        {"PLAIN", account.password, true},     {"PLAIN", account.password + "x", false},
        {"X-OAUTH2", account.token, true},     {"X-OAUTH2", other_token, false},
        {"X-OAUTH2", account.password, false},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.mechanism + " " + c.secret);
      Probe probe;
      ASSERT_EQ("", probe.StartTls(server(), server().port, "localhost"));
      std::string reply = probe.Authenticate(c.mechanism, name, c.secret);
      EXPECT_NE(std::string::npos, probe.tls_features().find(">" + c.mechanism + "<"));
      EXPECT_EQ(c.accepted, reply.rfind("<success", 0) == 0) << reply;
      if (!c.accepted) {
        EXPECT_EQ(0u, reply.rfind("<failure", 0)) << reply;
      }
    }
  }
}

// A client that skips the name check must visibly get in there, so that tests can tell.
TEST_F(LiveServer, WrongNameNodeKnowsTheSamePasswords) {
  const auto& hub = server().account("hub");
  Probe probe;
  ASSERT_EQ("", probe.StartTls(server(), server().wrong_name_port, "wrong.example"));
  EXPECT_EQ(0u, probe.Authenticate("PLAIN", hub.name, hub.password).rfind("<success", 0));
}

TEST_F(LiveServer, CtlRunsOnTheMainNode) {
  std::string out;
  ASSERT_EQ(0, server().RunCtl("registered_users localhost", &out)) << out;
  for (const char* name : {"hub", "device", "friend", "stranger"}) {
    EXPECT_NE(std::string::npos, out.find(name)) << out;
  }
  // A failing command is reported as such: the account exists already.
  EXPECT_NE(0, server().RunCtl("register hub localhost other-password", &out)) << out;
}

TEST(TestServerFacts, ReadsTheStartScriptsLinesAndRefusesIncompleteOnes) {
  const std::string good =
      "# comment\n"
      "NORVO_TEST_XMPP_HOST='127.0.0.1'\n"
      "NORVO_TEST_XMPP_DOMAIN='localhost'\n"
      "NORVO_TEST_XMPP_PORT='5999'\n"
      "NORVO_TEST_XMPP_WRONGNAME_PORT='6000'\n"
      "NORVO_TEST_XMPP_CA_FILE='/x/ca.pem'\n"
      "NORVO_TEST_XMPP_HUB_JID='hub@localhost'\n"
      "NORVO_TEST_XMPP_HUB_PASSWORD='p w'\n"
      "NORVO_TEST_XMPP_HUB_TOKEN='tok'\n"
      "NORVO_TEST_XMPP_ACCOUNTS='hub'\n";
  std::string error;
  auto parsed = ParseTestServer(good, &error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(5999, parsed->port);
  EXPECT_EQ(6000, parsed->wrong_name_port);
  EXPECT_EQ("p w", parsed->account("hub").password);
  EXPECT_EQ("tok", parsed->account("hub").token);
  EXPECT_EQ("", parsed->account("nobody").jid);

  struct Case {
    std::string drop_line;  // a line of the good text to replace
    std::string with;
    std::string error_part;
  };
  const Case cases[] = {
      {"NORVO_TEST_XMPP_PORT='5999'", "NORVO_TEST_XMPP_PORT='59x9'", "ports"},
      {"NORVO_TEST_XMPP_PORT='5999'", "NORVO_TEST_XMPP_PORT='70000'", "ports"},
      {"NORVO_TEST_XMPP_PORT='5999'", "", "ports"},
      {"NORVO_TEST_XMPP_CA_FILE='/x/ca.pem'", "", "CA file"},
      {"NORVO_TEST_XMPP_HUB_TOKEN='tok'", "", "token of hub"},
      {"NORVO_TEST_XMPP_ACCOUNTS='hub'", "NORVO_TEST_XMPP_ACCOUNTS=''", "no accounts"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drop_line + " -> " + c.with);
    std::string text = good;
    text.replace(text.find(c.drop_line), c.drop_line.size(), c.with);
    error.clear();
    EXPECT_FALSE(ParseTestServer(text, &error));
    EXPECT_NE(std::string::npos, error.find(c.error_part)) << error;
  }
}

// A missing facts file, and one whose server is gone (a port where nothing listens), both fail
// with a hint instead of letting the test run into a refused connection.
TEST(TestServerFacts, MissingOrStaleFactsNameTheWayToStartTheServer) {
  char dir_template[] = "/tmp/norvo-facts-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir_template));
  const std::string dir = dir_template;
  // A port that was free a moment ago: bound, then closed again.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
  ASSERT_EQ(0, getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len));
  close(fd);
  const std::string stale = dir + "/stale.env";
  {
    std::ofstream out(stale);
    out << "NORVO_TEST_XMPP_HOST='127.0.0.1'\nNORVO_TEST_XMPP_DOMAIN='localhost'\n"
        << "NORVO_TEST_XMPP_PORT='" << ntohs(addr.sin_port) << "'\n"
        << "NORVO_TEST_XMPP_WRONGNAME_PORT='1'\nNORVO_TEST_XMPP_CA_FILE='/x'\n"
        << "NORVO_TEST_XMPP_HUB_JID='h@l'\nNORVO_TEST_XMPP_HUB_PASSWORD='p'\n"
        << "NORVO_TEST_XMPP_HUB_TOKEN='t'\nNORVO_TEST_XMPP_ACCOUNTS='hub'\n";
  }
  for (const std::string& path : {dir + "/missing.env", stale}) {
    SCOPED_TRACE(path);
    setenv("NORVO_TEST_SERVER_ENV", path.c_str(), 1);
    std::string error;
    EXPECT_FALSE(norvo_test::LoadTestServer(&error));
    unsetenv("NORVO_TEST_SERVER_ENV");
    EXPECT_NE(std::string::npos, error.find("start-ejabberd.sh")) << error;
  }
  std::remove(stale.c_str());
  rmdir(dir.c_str());
}

}  // namespace
