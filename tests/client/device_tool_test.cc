// `norvo device signin`, run as a user runs it, against the test run's ejabberd.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/server/test_server.h"

namespace {

struct ToolRun {
  int status;
  std::string out;
};

ToolRun RunTool(const std::string& args, const norvo_test::TestServer& s) {
  const std::string command = "NORVO_XMPP_SERVER='" + s.host + ":" + std::to_string(s.port) +
                              "' NORVO_XMPP_CA_FILE='" + s.ca_file + "' '" NORVO_TOOL "' " + args +
                              " 2>&1";
  ToolRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char chunk[512];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), pipe)) > 0) run.out.append(chunk, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(DeviceSignInTool, SignsInReportsAndExits) {
  std::string error;
  auto server = norvo_test::LoadTestServer(&error);
  ASSERT_TRUE(server) << error;
  // An account of its own, so that no other test's session shares it.
  const std::string node = "ccdevicetool";
  const std::string password = "pw-device-tool";
  server->RunCtl("unregister " + node + " " + server->domain);
  ASSERT_EQ(server->RunCtl("register " + node + " " + server->domain + " " + password), 0);
  std::string token;
  ASSERT_EQ(server->RunCtl("oauth_issue_token " + node + "@" + server->domain + " 3600 sasl_auth",
                           &token),
            0);
  token = token.substr(0, token.find_first_of(" \t\n"));
  const std::string jid = "--jid " + node + "@" + server->domain;

  struct Case {
    std::string args;
    int status;
    std::vector<std::string> lines;
  } cases[] = {
      {jid + " --token " + token + " --seconds 0",
       0,
       {"report: LOGGING_IN, CONNECTING", "report: LOGIN_OK, ONLINE",
        "event: NorvoEvent_SignedIn (100)", "report: LOGGING_OUT, DISCONNECTING",
        "report: LOGOUT_OK, OFFLINE", "event: NorvoEvent_SignedOut (101)"}},
      {jid + " --password " + password + " --seconds 0",
       0,
       {"report: LOGIN_OK, ONLINE", "report: LOGOUT_OK, OFFLINE"}},
      {jid + " --token refused-token",
       1,
       {"report: LOGGING_IN, CONNECTING", "report: AUTH_ERR, OFFLINE",
        "event: NorvoEvent_AuthFailed (102)", "report: LOGOUT_OK, OFFLINE"}},
      {jid + " --token a --password b", 2, {"usage: norvo device signin"}},
      {jid + " --password b --seconds soon", 2, {"--seconds"}},
  };
  for (const Case& c : cases) {
    const ToolRun run = RunTool("device signin " + c.args, *server);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.out;
    size_t at = 0;
    for (const std::string& line : c.lines) {
      const size_t found = run.out.find(line, at);
      EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << run.out;
      if (found != std::string::npos) at = found + line.size();
    }
  }
}

}  // namespace
