// The Linux platform layer: XDG folders, private folders, the autostart entry, the network check
// and the single-instance socket.
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "client-core/NorvoWinUtilities.h"
#include "platform/atomic_file.h"
#include "platform/autostart.h"
#include "platform/network.h"
#include "platform/single_instance.h"
#include "platform/xdg_dirs.h"
#include "tests/host/host_test_util.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(XdgDirsTest, FoldersFollowTheEnvironment) {
  struct Case {
    std::optional<std::string> home, config, data;
    std::string expected_config, expected_data;
  };
  const Case cases[] = {
      {"/home/u", std::nullopt, std::nullopt, "/home/u/.config", "/home/u/.local/share"},
      {"/home/u/", "/cfg", "/dat/", "/cfg", "/dat"},
      // A relative value is not valid and is ignored.
      {"/home/u", "rel/cfg", "", "/home/u/.config", "/home/u/.local/share"},
      {"/", std::nullopt, std::nullopt, "/.config", "/.local/share"},
  };
  for (const Case& c : cases) {
    host_test::ScopedEnv env(
        {{"HOME", c.home}, {"XDG_CONFIG_HOME", c.config}, {"XDG_DATA_HOME", c.data}});
    EXPECT_EQ(platform::ConfigHome(), c.expected_config);
    EXPECT_EQ(platform::DataHome(), c.expected_data);
  }
  // Without HOME the password database still knows the home folder.
  host_test::ScopedEnv env({{"HOME", std::nullopt}, {"XDG_CONFIG_HOME", std::nullopt}});
  EXPECT_FALSE(platform::HomeDir().empty());
}

TEST(XdgDirsTest, RuntimeFolderFallsBackToAPrivateFolder) {
  {
    host_test::ScopedEnv env({{"XDG_RUNTIME_DIR", std::string("/run/user/4242")}});
    EXPECT_EQ(platform::RuntimeDir(), "/run/user/4242");
  }
  host_test::ScopedEnv env({{"XDG_RUNTIME_DIR", std::nullopt}});
  std::string dir = platform::RuntimeDir();
  // Empty only when somebody else holds the name; then no socket is better than a shared one.
  if (!dir.empty()) {
    EXPECT_EQ(dir, "/tmp/norvo-" + std::to_string(getuid()));
    struct stat st {};
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, getuid());
  }
}

TEST(PrivateFolderTest, CreatesMissingPartsClosedToOthers) {
  host_test::TempDir dir;
  std::string nested = dir / "a/b/c/";
  EXPECT_TRUE(platform::CreatePrivateFolder(nested));
  EXPECT_TRUE(platform::CreatePrivateFolder(nested));  // existing is fine
  EXPECT_EQ(host_test::ModeOf(dir / "a"), 0700u);
  EXPECT_EQ(host_test::ModeOf(dir / "a/b/c"), 0700u);
  ASSERT_TRUE(host_test::WriteFile(dir / "file", "x"));
  EXPECT_FALSE(platform::CreatePrivateFolder(dir / "file"));
  EXPECT_FALSE(platform::CreatePrivateFolder(dir / "file/sub"));
  EXPECT_FALSE(platform::CreatePrivateFolder(""));
}

TEST(AtomicFileTest, ReplacesWholeAndReadsWithinBounds) {
  host_test::TempDir dir;
  std::string path = dir / "f";
  ASSERT_TRUE(platform::WriteFileAtomically(path, "first", 0600));
  ASSERT_TRUE(platform::WriteFileAtomically(path, "second", 0640));
  EXPECT_EQ(*host_test::ReadFile(path), "second");
  EXPECT_EQ(host_test::ModeOf(path), 0640u);
  EXPECT_THAT(host_test::ListFolder(dir.path()), testing::ElementsAre("f"));
  EXPECT_FALSE(platform::WriteFileAtomically(dir / "missing/f", "x", 0600));

  std::string out;
  EXPECT_EQ(platform::ReadWholeFile(path, 6, &out), platform::ReadFileResult::kOk);
  EXPECT_EQ(out, "second");
  EXPECT_EQ(platform::ReadWholeFile(path, 5, &out), platform::ReadFileResult::kTooLarge);
  EXPECT_EQ(platform::ReadWholeFile(dir / "none", 5, &out), platform::ReadFileResult::kMissing);
  EXPECT_EQ(platform::ReadWholeFile(dir.path(), 5, &out), platform::ReadFileResult::kNotAFile);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  // A pipe must not block the reader.
  EXPECT_EQ(platform::ReadWholeFile(dir / "fifo", 5, &out), platform::ReadFileResult::kNotAFile);
}

TEST(AutostartTest, ExecLineQuotesWhatTheDesktopEntryReserves) {
  struct Case {
    std::string path, expected;
  };
  const Case cases[] = {
      {"/usr/bin/norvo-hub", "/usr/bin/norvo-hub auto"},
      {"/opt/My Apps/norvo-hub", "\"/opt/My Apps/norvo-hub\" auto"},
      {"/opt/a$b/norvo-hub", "\"/opt/a\\\\$b/norvo-hub\" auto"},
      {"/opt/q\"t/norvo-hub", "\"/opt/q\\\\\"t/norvo-hub\" auto"},
      {"/opt/back\\slash/hub", "\"/opt/back\\\\\\\\slash/hub\" auto"},
      {"/opt/100%/hub", "/opt/100%%/hub auto"},
      {"/opt/new\nline/hub", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::AutostartExecLine(c.path), c.expected) << c.path;
}

TEST(AutostartTest, EnableAutoStartWritesTheEntryForThisExecutable) {
  host_test::TempDir dir;
  host_test::ScopedEnv env(host_test::XdgEnvUnder(dir.path()));
  ASSERT_TRUE(NorvoWinUtilities::EnableAutoStart());
  std::optional<std::string> entry =
      host_test::ReadFile(dir / "config/autostart/norvo-hub.desktop");
  ASSERT_TRUE(entry);
  EXPECT_THAT(*entry, HasSubstr("[Desktop Entry]\n"));
  EXPECT_THAT(*entry, HasSubstr("\nType=Application\n"));
  EXPECT_THAT(
      *entry,
      HasSubstr("\nExec=" + platform::AutostartExecLine(platform::CurrentExecutablePath()) + "\n"));
  EXPECT_THAT(*entry, HasSubstr(" auto\n"));
  // Turning the option on again replaces the entry; nothing else is left behind.
  ASSERT_TRUE(NorvoWinUtilities::EnableAutoStart());
  EXPECT_THAT(host_test::ListFolder(dir / "config/autostart"),
              testing::ElementsAre("norvo-hub.desktop"));
}

TEST(NetworkTest, OnlyARunningNonLoopbackAddressCounts) {
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  sockaddr packet{};
  packet.sa_family = AF_PACKET;
  const unsigned up_running = IFF_UP | IFF_RUNNING;

  struct Iface {
    sockaddr* addr;
    unsigned flags;
  };
  struct Case {
    const char* name;
    std::vector<Iface> ifaces;
    bool alive;
  };
  const Case cases[] = {
      {"nothing", {}, false},
      {"loopback only", {{reinterpret_cast<sockaddr*>(&v4), up_running | IFF_LOOPBACK}}, false},
      {"cable out", {{reinterpret_cast<sockaddr*>(&v4), IFF_UP}}, false},
      {"link without address", {{&packet, up_running}, {nullptr, up_running}}, false},
      {"IPv4 LAN",
       {{reinterpret_cast<sockaddr*>(&v4), IFF_LOOPBACK | up_running},
        {reinterpret_cast<sockaddr*>(&v4), up_running}},
       true},
      {"IPv6 only", {{reinterpret_cast<sockaddr*>(&v6), up_running}}, true},
  };
  for (const Case& c : cases) {
    std::vector<ifaddrs> list(c.ifaces.size());
    char name[] = "eth0";
    for (size_t i = 0; i < list.size(); ++i) {
      list[i].ifa_name = name;
      list[i].ifa_addr = c.ifaces[i].addr;
      list[i].ifa_flags = c.ifaces[i].flags;
      list[i].ifa_next = i + 1 < list.size() ? &list[i + 1] : nullptr;
    }
    EXPECT_EQ(platform::IsAliveInterfaceList(list.empty() ? nullptr : list.data()), c.alive)
        << c.name;
  }
  int flags = -1;
  bool alive = platform::IsNetworkAlive(&flags);
  EXPECT_EQ(flags, alive ? platform::kNetworkAliveLan : 0);
}

class SingleInstanceTest : public ::testing::Test {
 protected:
  std::string SocketPath() const { return dir_ / "hub.socket"; }
  host_test::TempDir dir_;
};

TEST_F(SingleInstanceTest, RunningCopyIsAskedToShowItsWindow) {
  platform::InstanceListener listener;
  ASSERT_EQ(listener.Bind(SocketPath()), platform::InstanceListener::BindResult::kBound);
  // A request made before Serve waits in the socket's queue rather than failing.
  std::atomic<int> shown{0};
  std::thread early([&] { EXPECT_TRUE(platform::AskInstanceToShow(SocketPath(), 10000)); });
  ASSERT_TRUE(listener.Serve([&] { ++shown; }));
  early.join();
  EXPECT_TRUE(platform::AskInstanceToShow(SocketPath(), 10000));
  EXPECT_EQ(shown.load(), 2);
  EXPECT_EQ(listener.served(), 2);
  listener.Stop();
  EXPECT_FALSE(host_test::Exists(SocketPath()));
  EXPECT_FALSE(platform::AskInstanceToShow(SocketPath(), 10000));
}

TEST_F(SingleInstanceTest, SilentOrWrongPeersDoNotStopTheListener) {
  platform::InstanceListener listener;
  ASSERT_EQ(listener.Bind(SocketPath()), platform::InstanceListener::BindResult::kBound);
  std::atomic<int> shown{0};
  ASSERT_TRUE(listener.Serve([&] { ++shown; }));
  for (const char* noise : {"", "hide\n", "show", "showshowshow\n"}) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, SocketPath().c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    if (*noise) {
      ASSERT_GT(send(fd, noise, std::strlen(noise), MSG_NOSIGNAL), 0);
    }
    shutdown(fd, SHUT_WR);
    char buf[16];
    EXPECT_LE(recv(fd, buf, sizeof(buf), 0), 0) << noise;  // closed without an answer
    close(fd);
  }
  // The listener gives up on a peer that never speaks, and the next request is answered.
  int silent = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, SocketPath().c_str());
  ASSERT_EQ(connect(silent, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  EXPECT_TRUE(platform::AskInstanceToShow(SocketPath(), 10000));
  close(silent);
  EXPECT_EQ(shown.load(), 1);
}

TEST_F(SingleInstanceTest, StaleSocketIsReplacedButALiveOneIsNot) {
  {
    // What a killed copy leaves: a socket file nobody listens on.
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, SocketPath().c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    close(fd);
  }
  platform::InstanceListener first;
  ASSERT_EQ(first.Bind(SocketPath()), platform::InstanceListener::BindResult::kBound);
  ASSERT_TRUE(first.Serve([] {}));
  platform::InstanceListener second;
  EXPECT_EQ(second.Bind(SocketPath()), platform::InstanceListener::BindResult::kInUse);
  second.Stop();
  // The loser must not have removed the winner's socket.
  EXPECT_TRUE(platform::AskInstanceToShow(SocketPath(), 10000));
  EXPECT_EQ(platform::InstanceListener().Bind(std::string(200, 'x')),
            platform::InstanceListener::BindResult::kFailed);
}

TEST_F(SingleInstanceTest, ProcessesAreFoundByExecutableName) {
  host_test::Child sleeper("/bin/sleep", {"30"}, {}, dir_ / "out");
  ASSERT_TRUE(sleeper.started());
  ASSERT_TRUE(host_test::WaitFor([&] { return platform::ExecutableName(sleeper.pid()) == "sleep"; },
                                 10000));
  EXPECT_THAT(platform::FindOtherProcessesNamed("sleep"), Contains(sleeper.pid()));
  EXPECT_THAT(platform::FindOtherProcessesNamed(platform::CurrentExecutableName()),
              Not(Contains(getpid())));
  EXPECT_TRUE(platform::FindOtherProcessesNamed("").empty());

  // A process of the name that never answers does not keep this copy from starting.
  platform::InstanceListener listener;
  EXPECT_FALSE(platform::CheckAndShowIfRunning("sleep", SocketPath(), &listener, 200));
  EXPECT_TRUE(listener.bound());
  listener.Stop();
}

TEST_F(SingleInstanceTest, NoOtherCopyMeansThisOneListens) {
  platform::InstanceListener listener;
  EXPECT_FALSE(
      platform::CheckAndShowIfRunning("no-such-program-name", SocketPath(), &listener, 1000));
  ASSERT_TRUE(listener.bound());
  ASSERT_TRUE(listener.Serve([] {}));
  // A copy of the same name started now finds this one through the socket.
  platform::InstanceListener later;
  EXPECT_TRUE(platform::CheckAndShowIfRunning(platform::CurrentExecutableName(), SocketPath(),
                                              &later, 1000));
  EXPECT_FALSE(later.bound());
}

}  // namespace
