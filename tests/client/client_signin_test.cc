// Sign-in sessions of the core client against the test run's ejabberd, and against loopback
// listeners that misbehave.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "client-core/NorvoCoreClient.h"
#include "client/NorvoJingleClientThread.h"
#include "messaging/xmpp/xmppclient.h"
#include "tests/client/client_test_util.h"
#include "tests/server/test_server.h"

namespace {

using client_test::DataDir;
using client_test::LogRecorder;
using client_test::RecordingHost;
using client_test::RecordingUI;
using client_test::Report;

const Report kLoggingIn{190, 1};
const Report kLoginOk{200, 2};
const Report kLoggingOut{191, 3};
const Report kLogoutOk{201, 0};
const Report kAuthErr{501, 0};
const Report kNetworkErr{502, 3};
const Report kSystemErr{503, 0};

struct Account {
  std::string jid;
  std::string password;
  std::string token;
};

// A listening socket on 127.0.0.1 at a free port, for one connection.
int ListenOnLoopback(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  listen(fd, 1);
  socklen_t len = sizeof(addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

// A loopback listener that accepts one connection and then misbehaves as told.
class BadServer {
 public:
  enum Kind { kGarbage, kCloseAtOnce, kSilent };

  explicit BadServer(Kind kind) : kind_(kind) {
    listen_fd_ = ListenOnLoopback(&port_);
    pipe(wake_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~BadServer() {
    Close();
    thread_.join();
    close(listen_fd_);
    close(wake_[0]);
    close(wake_[1]);
  }
  int port() const { return port_; }
  // Ends the connection (a silent server that finally goes away).
  void Close() {
    if (!closed_.exchange(true)) write(wake_[1], "x", 1);
  }
  client_test::Recorded<int> accepted;

 private:
  void Serve() {
    const int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) return;
    accepted.Add(1);
    if (kind_ == kCloseAtOnce) {
      close(fd);
      return;
    }
    if (kind_ == kGarbage) {
      const char garbage[] = "<?xml version='1.0'?><<<not xml at all\x01\x02&&&>>>";
      send(fd, garbage, sizeof(garbage) - 1, MSG_NOSIGNAL);
    }
    // Read until the client gives up or the test closes us.
    char buf[4096];
    for (;;) {
      pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      poll(fds, 2, -1);
      if (fds[1].revents) break;
      if (read(fd, buf, sizeof(buf)) <= 0) break;
    }
    close(fd);
  }

  Kind kind_;
  int listen_fd_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::atomic<bool> closed_{false};
  std::thread thread_;
};

// A loopback relay to the real server whose connections the test can cut, as if the server had
// gone away under the session.
class Relay {
 public:
  Relay(const std::string& host, int port) : host_(host), target_port_(port) {
    listen_fd_ = ListenOnLoopback(&port_);
    pipe(wake_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Relay() {
    Cut();
    thread_.join();
    close(listen_fd_);
    close(wake_[0]);
    close(wake_[1]);
  }
  int port() const { return port_; }
  void Cut() {
    if (!cut_.exchange(true)) write(wake_[1], "x", 1);
  }

 private:
  void Serve() {
    const int a = accept(listen_fd_, nullptr, nullptr);
    if (a < 0) return;
    const int b = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(target_port_));
    inet_pton(AF_INET, host_.c_str(), &addr.sin_addr);
    if (connect(b, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
      char buf[16384];
      for (;;) {
        pollfd fds[3] = {{a, POLLIN, 0}, {b, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        poll(fds, 3, -1);
        if (fds[2].revents) break;
        if (fds[0].revents && !Pass(a, b, buf, sizeof(buf))) break;
        if (fds[1].revents && !Pass(b, a, buf, sizeof(buf))) break;
      }
    }
    // RST rather than FIN: the peer sees the connection die, not a polite close.
    linger lg{1, 0};
    setsockopt(a, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    close(a);
    close(b);
  }
  static bool Pass(int from, int to, char* buf, size_t size) {
    const ssize_t n = read(from, buf, size);
    return n > 0 && send(to, buf, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
  }

  std::string host_;
  int target_port_;
  int listen_fd_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::atomic<bool> cut_{false};
  std::thread thread_;
};

// One core client session on a thread of its own.
class Session {
 public:
  explicit Session(const std::string& jid) : client(&host, jid.c_str()), jid_(jid) {}
  ~Session() { Join(); }
  void Start(const std::string& secret, int auth_type) {
    thread_ = std::thread([this, secret, auth_type] {
      result = client.Start(jid_.c_str(), secret.c_str(), auth_type);
    });
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  RecordingHost host;
  NorvoCoreClient client;
  int result = -99;

 private:
  std::string jid_;
  std::thread thread_;
};

class SignInTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    server_ = new std::optional<norvo_test::TestServer>(norvo_test::LoadTestServer(&error));
    ASSERT_TRUE(*server_) << error;
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(server_ && *server_);
    const auto& s = **server_;
    setenv("NORVO_XMPP_CA_FILE", s.ca_file.c_str(), 1);
    PointAt(s.port);
  }

  void PointAt(int port) {
    setenv("NORVO_XMPP_SERVER", ((*server_)->host + ":" + std::to_string(port)).c_str(), 1);
  }

  // An account of this test case's own, so that cases running at once never share a session.
  Account OwnAccount(bool with_token) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string node = "cc";
    for (char c : std::string(info->name())) {
      if (std::isalnum(static_cast<unsigned char>(c))) {
        node += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
    }
    const std::string password = "pw-" + node;
    const auto& s = **server_;
    s.RunCtl("unregister " + node + " " + s.domain);
    EXPECT_EQ(s.RunCtl("register " + node + " " + s.domain + " " + password), 0);
    Account a{node + "@" + s.domain, password, ""};
    if (with_token) {
      std::string out;
      EXPECT_EQ(s.RunCtl("oauth_issue_token " + a.jid + " 3600 sasl_auth", &out), 0) << out;
      std::istringstream words(out);
      words >> a.token;
    }
    return a;
  }

  static std::optional<norvo_test::TestServer>* server_;
  DataDir dir_;
};

std::optional<norvo_test::TestServer>* SignInTest::server_ = nullptr;

TEST_F(SignInTest, TokenAndPasswordReachOnlineAndSignOutCleanly) {
  const Account account = OwnAccount(true);
  struct Case {
    std::string secret;
    int auth_type;
  } cases[] = {{account.token, 2}, {account.password, 0}};
  for (const Case& c : cases) {
    Session s(account.jid);
    s.Start(c.secret, c.auth_type);
    s.host.reports.WaitForValue(kLoginOk);
    EXPECT_EQ(s.client.GetClientState(), norvo::CLIENT_STATE_ONLINE);
    EXPECT_EQ(s.client.LogOut(), 0);
    s.Join();
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.host.reports.Get(),
              (std::vector<Report>{kLoggingIn, kLoginOk, kLoggingOut, kLogoutOk, kLogoutOk}))
        << "auth type " << c.auth_type;
    EXPECT_EQ(s.client.GetClientState(), norvo::CLIENT_STATE_OFFLINE);
  }
}

TEST_F(SignInTest, RefusedTokenReportsTheAuthError) {
  const Account account = OwnAccount(false);
  Session s(account.jid);
  s.Start("not-a-token", 2);
  s.Join();
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.host.reports.Get(), (std::vector<Report>{kLoggingIn, kAuthErr, kLogoutOk}));
  EXPECT_EQ(s.client.GetClientState(), norvo::CLIENT_STATE_OFFLINE);
}

TEST_F(SignInTest, ClientThreadDeliversTheWindowEvents) {
  const Account account = OwnAccount(true);
  struct Case {
    std::string secret;
    std::vector<int> events;
    int exit_reason;
  } cases[] = {
      // A clean close reports the sign-out once from the stream's end and once more when the
      // session ends; the window takes both as the same signed-out state.
      {account.token, {100, 101, 101, 104}, 101},
      {"refused", {102, 101, 104}, 102}};
  for (const Case& c : cases) {
    LogRecorder log;
    RecordingUI ui;
    auto thread = std::make_unique<NorvoJingleClientThread>();
    thread->SetUI(&ui);
    thread->SetAccount(account.jid.c_str(), c.secret.c_str(), 2);
    ASSERT_TRUE(thread->Start());
    ui.events.WaitFor([](const std::vector<int>& e) {
      return !e.empty() &&
             (e.back() == NorvoEvent_Client_SignedIn || e.back() == NorvoEvent_Client_Destroyed);
    });
    if (ui.events.Get().back() == NorvoEvent_Client_SignedIn) {
      EXPECT_EQ(thread->GetClientState(), norvo::CLIENT_STATE_ONLINE);
      EXPECT_EQ(thread->LogOut(), 0);
    }
    ui.events.WaitForValue(NorvoEvent_Client_Destroyed);
    thread->Join();
    EXPECT_FALSE(thread->IsRunning());
    EXPECT_EQ(ui.events.Get(), c.events);
    EXPECT_TRUE(
        log.Contains("De-constructor called, exit reason: " + std::to_string(c.exit_reason)));
  }
}

TEST_F(SignInTest, ServerGoneUnderTheSessionEndsItWithTheNetworkError) {
  const Account account = OwnAccount(false);
  Relay relay((*server_)->host, (*server_)->port);
  PointAt(relay.port());
  LogRecorder log;
  Session s(account.jid);
  s.Start(account.password, 0);
  s.host.reports.WaitForValue(kLoginOk);
  relay.Cut();
  s.Join();
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.host.reports.Get(),
            (std::vector<Report>{kLoggingIn, kLoginOk, kNetworkErr, kLogoutOk}));
  EXPECT_EQ(s.client.GetClientState(), norvo::CLIENT_STATE_DISCONNECTING);
  EXPECT_EQ(log.Count("NorvoCoreClient - Quit, final step"), 1);
  // A sign-out asked for after the session has ended finds no loop to post to, and nothing
  // breaks.
  EXPECT_EQ(s.client.LogOut(), 0);
  EXPECT_TRUE(log.Contains("NORVO_CMD_SIGN_OUT dropped"));
}

TEST_F(SignInTest, SecondSignOutWhileSigningOutIsAccepted) {
  const Account account = OwnAccount(false);
  Session s(account.jid);
  std::vector<int> results;
  // On the client thread, so that both arrive before the first sign-out runs.
  s.host.on_report = [&](norvo::_ClientEvent event, norvo::_ClientState) {
    if (event == norvo::CLIENT_EVENT_LOGIN_OK) {
      results.push_back(s.client.LogOut());
      results.push_back(s.client.LogOut());
    }
  };
  s.Start(account.password, 0);
  s.Join();
  EXPECT_EQ(results, (std::vector<int>{0, 0}));
  EXPECT_EQ(s.host.reports.Get(), (std::vector<Report>{kLoggingIn, kLoginOk, kLoggingOut,
                                                       kLoggingOut, kLogoutOk, kLogoutOk}));
}

TEST_F(SignInTest, CertificateForAnotherNameIsRefused) {
  const Account account = OwnAccount(false);
  PointAt((*server_)->wrong_name_port);
  LogRecorder log;
  Session s(account.jid);
  s.Start(account.password, 0);
  s.Join();
  EXPECT_EQ(s.host.reports.Get(), (std::vector<Report>{kLoggingIn, kSystemErr, kLogoutOk}));
  EXPECT_TRUE(log.Contains("Connection ended, error is: 5"));
  EXPECT_TRUE(log.Contains("TLS could not be negotiated"));
}

TEST_F(SignInTest, MisbehavingListenersEndTheSession) {
  struct Case {
    BadServer::Kind kind;
    std::vector<Report> reports;
    const char* log;
  } cases[] = {
      {BadServer::kGarbage, {kLoggingIn, kSystemErr, kLogoutOk}, "error is: 1"},
      {BadServer::kCloseAtOnce,
       {kLoggingIn, kNetworkErr, kLogoutOk},
       "NorvoCoreClient::OnXmmpSocketClosedEvent - This is a connection failure"},
  };
  for (const Case& c : cases) {
    BadServer bad(c.kind);
    PointAt(bad.port());
    LogRecorder log;
    Session s("hub@localhost");
    s.Start("secret", 0);
    s.Join();
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.host.reports.Get(), c.reports) << c.log;
    EXPECT_TRUE(log.Contains(c.log)) << c.log;
  }
}

TEST_F(SignInTest, SignOutWhileConnectingIsRefused) {
  BadServer silent(BadServer::kSilent);
  PointAt(silent.port());
  LogRecorder log;
  Session s("hub@localhost");
  s.Start("secret", 0);
  silent.accepted.WaitForValue(1);
  EXPECT_EQ(s.client.LogOut(), -1);
  EXPECT_FALSE(log.Contains("NorvoKernelShell::OnNorvoCommandReceived: 16"));
  EXPECT_EQ(s.host.reports.Get(), std::vector<Report>{kLoggingIn});
  silent.Close();
  s.Join();
  EXPECT_EQ(s.host.reports.Get(), (std::vector<Report>{kLoggingIn, kNetworkErr, kLogoutOk}));
}

// Reads the session's traffic on the client thread.
class Traffic : public sigslot::has_slots<> {
 public:
  void OnOutput(const char* data, int len) {
    const std::string text(data, static_cast<size_t>(len));
    static const std::regex ping(
        R"re(<iq[^>]*id="([0-9]+)"[^>]*>\s*<ping xmlns="urn:xmpp:ping")re");
    for (std::sregex_iterator it(text.begin(), text.end(), ping), end; it != end; ++it) {
      ping_ids.insert((*it)[1]);
    }
  }
  void OnInput(const char* data, int len) {
    // The server may quote with either mark.
    const std::string text(data, static_cast<size_t>(len));
    static const std::regex iq(R"re(<iq\b[^>]*>)re");
    static const std::regex id(R"re(\bid=['"]([0-9]+)['"])re");
    static const std::regex result(R"re(\btype=['"]result['"])re");
    for (std::sregex_iterator it(text.begin(), text.end(), iq), end; it != end; ++it) {
      const std::string tag = it->str();
      std::smatch m;
      if (std::regex_search(tag, result) && std::regex_search(tag, m, id) && ping_ids.count(m[1])) {
        answered.Add(m[1]);
      }
    }
  }
  std::set<std::string> ping_ids;
  client_test::Recorded<std::string> answered;
};

TEST_F(SignInTest, KeeperPingsReachTheServer) {
  const Account account = OwnAccount(false);
  Session s(account.jid);
  s.client.SetKeepAliveTiming(20, 50);
  Traffic traffic;
  s.host.on_report = [&](norvo::_ClientEvent event, norvo::_ClientState) {
    if (event == norvo::CLIENT_EVENT_LOGIN_OK) {
      s.client.xmpp_client()->SignalLogOutput.connect(&traffic, &Traffic::OnOutput);
      s.client.xmpp_client()->SignalLogInput.connect(&traffic, &Traffic::OnInput);
    }
  };
  s.Start(account.password, 0);
  traffic.answered.WaitFor([](const std::vector<std::string>& a) { return a.size() >= 3; });
  EXPECT_EQ(s.client.LogOut(), 0);
  s.Join();
  EXPECT_EQ(s.result, 0);
}

int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

TEST_F(SignInTest, FiftySignInsLeaveNothingBehind) {
  const Account account = OwnAccount(false);
  // One session first, so that what lives for the whole process (the resolver, SSL tables)
  // exists before counting.
  auto once = [&] {
    Session s(account.jid);
    s.host.on_report = [&](norvo::_ClientEvent event, norvo::_ClientState) {
      if (event == norvo::CLIENT_EVENT_LOGIN_OK) s.client.LogOut();
    };
    s.Start(account.password, 0);
    s.Join();
    return s.host.reports.Get();
  };
  const std::vector<Report> expected{kLoggingIn, kLoginOk, kLoggingOut, kLogoutOk, kLogoutOk};
  ASSERT_EQ(once(), expected);
  const int threads = CountEntries("/proc/self/task");
  const int fds = CountEntries("/proc/self/fd");
  for (int i = 0; i < 50; ++i) ASSERT_EQ(once(), expected) << "sign-in " << i;
  EXPECT_EQ(CountEntries("/proc/self/task"), threads);
  EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
}

}  // namespace
