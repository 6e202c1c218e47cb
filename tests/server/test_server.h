// The private ejabberd of the test run, as seen by a test: where it listens, which CA to trust
// and which accounts exist. The CTest fixture "ejabberd" (tests/server/CMakeLists.txt) starts
// the server and writes these facts as shell KEY='VALUE' lines; this header reads them.
//
//   std::string error;
//   std::optional<norvo_test::TestServer> server = norvo_test::LoadTestServer(&error);
//   ASSERT_TRUE(server) << error;
//   const norvo_test::TestAccount& hub = server->account("hub");
//
// The facts file is found through the environment variable NORVO_TEST_SERVER_ENV when it is
// set, else through the compile definition NORVO_TEST_SERVER_ENV_FILE that the CMake target
// norvo_test_server gives.
#ifndef TESTS_SERVER_TEST_SERVER_H_
#define TESTS_SERVER_TEST_SERVER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace norvo_test {

struct TestAccount {
  std::string name;      // "hub"
  std::string jid;       // "hub@localhost"
  std::string password;  // for SASL PLAIN
  std::string token;     // an X-OAUTH2 access token (scope sasl_auth, valid one hour)
};

struct TestServer {
  std::string host;             // "127.0.0.1": where to connect
  std::string domain;           // "localhost": the XMPP domain and the certificate's name
  int port = 0;                 // c2s, STARTTLS required, certificate for the domain
  int wrong_name_port = 0;      // the same accounts, but a certificate for wrong_cert_name
  std::string wrong_cert_name;  // "wrong.example"
  std::string ca_file;          // PEM of the test CA that signed both certificates
  std::string ctl;              // ejabberdctl for the main node: ctl + " kick_session ..."
  std::map<std::string, TestAccount> accounts;  // by name: hub, device, friend, stranger
  std::map<std::string, std::string> facts;     // every KEY=VALUE line of the file

  // The account of that name; an empty record when there is none (check accounts.count()).
  const TestAccount& account(const std::string& name) const {
    static const TestAccount kNone;
    auto it = accounts.find(name);
    return it == accounts.end() ? kNone : it->second;
  }

  // Runs the main node's ejabberdctl with the given arguments (already quoted for the shell,
  // e.g. "add_rosteritem hub localhost friend localhost Friend Friends both"). Returns the exit
  // status (0 on success) and, when output is given, what the command printed.
  int RunCtl(const std::string& args, std::string* output = nullptr) const {
    std::string command = "'" + ctl + "' " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), pipe)) > 0) text.append(chunk, n);
    int status = pclose(pipe);
    if (output != nullptr) *output = text;
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

// Where the facts file is expected: NORVO_TEST_SERVER_ENV, else the compiled-in path.
inline std::string TestServerEnvPath() {
  if (const char* env = std::getenv("NORVO_TEST_SERVER_ENV"); env != nullptr && *env != '\0') {
    return env;
  }
#ifdef NORVO_TEST_SERVER_ENV_FILE
  return NORVO_TEST_SERVER_ENV_FILE;
#else
  return std::string();
#endif
}

// Parses the facts text (KEY='VALUE' lines, '#' comments). Returns nothing and says why in
// error when a fact the tests rely on is missing or malformed.
inline std::optional<TestServer> ParseTestServer(const std::string& text, std::string* error) {
  TestServer server;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
      value = value.substr(1, value.size() - 2);
    }
    server.facts[key] = value;
  }
  auto fact = [&](const std::string& key) -> std::string {
    auto it = server.facts.find(key);
    return it == server.facts.end() ? std::string() : it->second;
  };
  auto port = [&](const std::string& key, int* out) {
    std::string v = fact(key);
    char* end = nullptr;
    long p = v.empty() ? 0 : std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || p <= 0 || p > 65535) return false;
    *out = static_cast<int>(p);
    return true;
  };
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return std::optional<TestServer>();
  };
  server.host = fact("NORVO_TEST_XMPP_HOST");
  server.domain = fact("NORVO_TEST_XMPP_DOMAIN");
  server.wrong_cert_name = fact("NORVO_TEST_XMPP_WRONGNAME_CERT_NAME");
  server.ca_file = fact("NORVO_TEST_XMPP_CA_FILE");
  server.ctl = fact("NORVO_TEST_XMPP_CTL");
  if (server.host.empty() || server.domain.empty() || server.ca_file.empty()) {
    return fail("test server facts lack the host, domain or CA file");
  }
  if (!port("NORVO_TEST_XMPP_PORT", &server.port) ||
      !port("NORVO_TEST_XMPP_WRONGNAME_PORT", &server.wrong_name_port)) {
    return fail("test server facts have no valid ports");
  }
  std::istringstream names(fact("NORVO_TEST_XMPP_ACCOUNTS"));
  std::string name;
  while (names >> name) {
    std::string upper;
    for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string prefix = "NORVO_TEST_XMPP_" + upper + "_";
    TestAccount account{name, fact(prefix + "JID"), fact(prefix + "PASSWORD"),
                        fact(prefix + "TOKEN")};
    if (account.jid.empty() || account.password.empty() || account.token.empty()) {
      return fail("test server facts lack the JID, password or token of " + name);
    }
    server.accounts[name] = account;
  }
  if (server.accounts.empty()) return fail("test server facts name no accounts");
  return server;
}

// Whether something accepts TCP connections at host:port (IPv4 text address).
inline bool TestServerAnswers(const std::string& host, int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) return false;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

// Reads the facts of the running test server. Fails (with a hint in error) when the file is
// not there (the test was run without the fixture that starts the server) or when the server
// it names no longer answers (a facts file left behind, e.g. after a reboot).
inline std::optional<TestServer> LoadTestServer(std::string* error = nullptr) {
  std::string path = TestServerEnvPath();
  std::ifstream in(path);
  if (path.empty() || !in) {
    if (error != nullptr) {
      *error = "no test XMPP server facts at '" + path +
               "': run the test through ctest (fixture ejabberd), or start the server with "
               "tests/server/start-ejabberd.sh BUILD/tests/server";
    }
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::optional<TestServer> server = ParseTestServer(text.str(), error);
  if (server && !TestServerAnswers(server->host, server->port)) {
    if (error != nullptr) {
      *error = "the test XMPP server of '" + path + "' does not answer on " + server->host + ":" +
               std::to_string(server->port) +
               ": start it again (ctest runs tests/server/start-ejabberd.sh)";
    }
    return std::nullopt;
  }
  return server;
}

}  // namespace norvo_test

#endif  // TESTS_SERVER_TEST_SERVER_H_
