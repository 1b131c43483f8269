// The page's proxy table and default, the page object's conversion, the
// resolver socket's wire and server, and the environment the engine's
// network process inherits.
#include "vesk/core/proxy/proxy_manager.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include "test_util.h"
#include "vesk/core/proxy/network_environment.h"
#include "vesk/core/proxy/proxy_info.h"
#include "vesk/core/proxy/resolver_server.h"
#include "vesk/core/proxy/resolver_wire.h"
#include "vesk/core/update/installer_launch.h"

extern char** environ;

namespace vesk {
namespace {

using testing::LogCapture;

VeskProxyInfo Proxy(std::string scheme, std::string host, uint16_t port, std::string user = "",
                    std::string password = "") {
  return {std::move(scheme), std::move(host), port, std::move(user), std::move(password)};
}

ProxyDecision Via(std::string proxy) { return {ProxyDecision::Kind::kProxy, std::move(proxy)}; }
const ProxyDecision kSystem{};

class ProxyManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { manager().Clear(); }
  void TearDown() override { manager().Clear(); }
  static ProxyManager& manager() { return ProxyManager::Get(); }
};

TEST_F(ProxyManagerTest, KeysDropSlashesAtBothEndsAndAreOtherwiseExact) {
  EXPECT_EQ(ProxyManager::KeyOf("//http://a.test/x///"), "http://a.test/x");
  EXPECT_EQ(ProxyManager::KeyOf("///"), "");
  manager().SetProxyForUrl("http://a.test/", Proxy("http", "p", 1));
  EXPECT_EQ(manager().GetProxyForUrl("http://a.test", false).host, "p") << "trailing / shares the entry";
  EXPECT_EQ(manager().GetProxyForUrl("http://a.test/?q=1", false), VeskProxyInfo{})
      << "a query is another key";
  EXPECT_EQ(manager().GetProxyForUrl("HTTP://a.test", false), VeskProxyInfo{}) << "keys are case-sensitive";
  manager().RemoveProxyForUrl("http://a.test//");
  EXPECT_EQ(manager().GetProxyForUrl("http://a.test", false), VeskProxyInfo{});
  manager().RemoveProxyForUrl("http://never.set");  // nothing to remove: no effect
}

TEST_F(ProxyManagerTest, OnlyRealChangesCount) {
  const uint64_t start = manager().generation();
  manager().SetProxyForUrl("http://a.test", Proxy("http", "p", 1));
  manager().SetProxyForUrl("http://a.test/", Proxy("http", "p", 1));
  EXPECT_EQ(manager().generation(), start + 1) << "the same record again";
  manager().SetProxyForUrl("http://b.test", VeskProxyInfo{});
  EXPECT_EQ(manager().generation(), start + 2) << "a new entry, even an empty one";
  manager().RemoveProxyForUrl("http://c.test");
  manager().set_default_proxy(VeskProxyInfo{});
  EXPECT_EQ(manager().generation(), start + 2);
  manager().RemoveProxyForUrl("http://b.test");
  manager().set_default_proxy(Proxy("http", "d", 2));
  EXPECT_EQ(manager().generation(), start + 4);
}

TEST_F(ProxyManagerTest, TheDefaultIsOnlyReportedWhenAskedFor) {
  manager().set_default_proxy(Proxy("http", "d", 3128));
  EXPECT_EQ(manager().GetProxyForUrl("http://x", false), VeskProxyInfo{});
  EXPECT_EQ(manager().GetProxyForUrl("http://x", true), Proxy("http", "d", 3128));
  manager().SetProxyForUrl("http://x", Proxy("", "e", 8080));
  EXPECT_EQ(manager().GetProxyForUrl("http://x", true), Proxy("", "e", 8080)) << "the entry, even incomplete";
}

TEST_F(ProxyManagerTest, ConnectionsAreDecidedByTheEntryForTheirOriginThenTheDefaultThenTheSystem) {
  EXPECT_EQ(manager().Decide("http://a.test:80"), kSystem);
  manager().set_default_proxy(Proxy("http", "d", 3128));
  EXPECT_EQ(manager().Decide("http://a.test:80"), Via("http://d:3128"));

  manager().SetProxyForUrl("http://a.test/", Proxy("http", "p", 8080));
  EXPECT_EQ(manager().Decide("http://a.test:80"), Via("http://p:8080")) << "default port of the scheme";
  EXPECT_EQ(manager().Decide("http://A.TEST:80"), Via("http://p:8080")) << "host case does not matter";
  EXPECT_EQ(manager().Decide("http://a.test:8080"), Via("http://d:3128")) << "another port is another origin";
  EXPECT_EQ(manager().Decide("https://a.test:443"), Via("http://d:3128")) << "another scheme too";

  manager().SetProxyForUrl("https://b.test:8443", Proxy("socks5", "s", 1080));
  EXPECT_EQ(manager().Decide("https://b.test:8443"), Via("socks5://s:1080"));

  // An incomplete entry hides the default: the system settings decide.
  manager().SetProxyForUrl("http://c.test", Proxy("", "e", 8080));
  EXPECT_EQ(manager().Decide("http://c.test:80"), kSystem);
  manager().SetProxyForUrl("http://c.test", Proxy("http", "e", 0));
  EXPECT_EQ(manager().Decide("http://c.test:80"), kSystem);

  // IPv6 hosts on both sides.
  manager().SetProxyForUrl("http://[::1]:8000", Proxy("http", "::1", 3129));
  EXPECT_EQ(manager().Decide("http://[::1]:8000"), Via("http://[::1]:3129"));

  // What the engine may ask that is no origin gets the default.
  EXPECT_EQ(manager().Decide("garbage"), Via("http://d:3128"));
}

TEST_F(ProxyManagerTest, OnlyAChangeForAConnectedOriginOutdatesTheEnginesConnections) {
  EXPECT_EQ(manager().DecideForConnection("http://a.test:80"), kSystem);
  manager().SetProxyForUrl("http://b.test", Proxy("http", "p", 8080));
  manager().set_default_proxy(Proxy("http", "p", 0));  // incomplete: a.test still goes to the system
  EXPECT_FALSE(manager().OutdatedConnectionsTaken()) << "no connected origin is decided otherwise";

  manager().SetProxyForUrl("http://a.test/", Proxy("http", "p", 8080));
  EXPECT_TRUE(manager().OutdatedConnectionsTaken());
  EXPECT_FALSE(manager().OutdatedConnectionsTaken()) << "forgotten once taken: the engine dropped them";

  EXPECT_EQ(manager().DecideForConnection("http://a.test:80"), Via("http://p:8080"));
  manager().SetProxyForUrl("http://a.test", Proxy("http", "p", 8080, "user", "password"));
  EXPECT_FALSE(manager().OutdatedConnectionsTaken()) << "credentials do not change the route";
  manager().RemoveProxyForUrl("http://a.test");
  EXPECT_TRUE(manager().OutdatedConnectionsTaken()) << "back to the system settings";

  for (int i = 0; i < 3000; ++i) manager().DecideForConnection("http://h" + std::to_string(i) + ".test:80");
  manager().SetProxyForUrl("http://unrelated.test", Proxy("http", "p", 1));
  EXPECT_TRUE(manager().OutdatedConnectionsTaken()) << "past the bound every change counts";
}

TEST_F(ProxyManagerTest, KeysWithAPathNeverMatchAConnectionAndAreLoggedOnce) {
  LogCapture log;
  manager().SetProxyForUrl("http://a.test/app/", Proxy("http", "p", 8080));
  manager().SetProxyForUrl("http://a.test/app", Proxy("http", "q", 8080));
  manager().SetProxyForUrl("http://a.test?x=1", Proxy("http", "q", 8080));
  manager().SetProxyForUrl("http://user@a.test", Proxy("http", "q", 8080));
  EXPECT_EQ(manager().Decide("http://a.test:80"), kSystem);
  const std::string text = log.Text();
  EXPECT_NE(text.find("WARNING"), std::string::npos);
  EXPECT_NE(text.find("Proxy entry http://a.test/app is not an origin"), std::string::npos) << text;
  EXPECT_EQ(text.find("Proxy entry http://a.test/app is not an origin", text.find("http://a.test/app") + 1),
            std::string::npos)
      << "once per key";
  EXPECT_NE(text.find("Proxy entry http://a.test?x=1 is not"), std::string::npos);
  EXPECT_NE(text.find("Proxy entry http://user@a.test is not"), std::string::npos);
}

TEST_F(ProxyManagerTest, DecisionsNeverCarryCredentials) {
  // The engine's HTTP stack would send the request to the proxy itself.
  manager().SetProxyForUrl("http://a.test", Proxy("http", "p", 3128, "user", "pw"));
  manager().set_default_proxy(Proxy("http", "d", 1, "user", "pw"));
  EXPECT_EQ(manager().Decide("http://a.test:80"), Via("http://p:3128"));
  EXPECT_EQ(manager().Decide("http://b.test:80"), Via("http://d:1"));
}

TEST_F(ProxyManagerTest, CredentialsAreFoundByHostAndPortAcrossTheDefaultAndEveryEntry) {
  manager().SetProxyForUrl("http://z.test", Proxy("http", "shared", 3128, "z", "zz"));
  manager().SetProxyForUrl("http://a.test", Proxy("http", "shared", 3128, "a", "aa"));
  manager().SetProxyForUrl("http://b.test/deep/path", Proxy("http", "only-b", 8080, "b", ""));
  EXPECT_EQ(manager().FindProxyByHostPort("shared", 3128)->username, "a") << "first in key order";
  EXPECT_EQ(manager().FindProxyByHostPort("only-b", 8080)->username, "b") << "whatever URL it was set for";
  EXPECT_FALSE(manager().FindProxyByHostPort("SHARED", 3128)) << "host compared exactly";
  EXPECT_FALSE(manager().FindProxyByHostPort("shared", 3129));
  manager().set_default_proxy(Proxy("http", "shared", 3128, "d", "dd"));
  EXPECT_EQ(manager().FindProxyByHostPort("shared", 3128)->username, "d") << "the default first";
}

TEST(ProxyOriginTest, OriginsAndWhatIsNoOrigin) {
  EXPECT_EQ(ParseProxyOrigin("HTTPS://Example.TEST/"), (ProxyOrigin{"https", "example.test", 443}));
  EXPECT_EQ(ParseProxyOrigin("ws://h:81"), (ProxyOrigin{"ws", "h", 81}));
  EXPECT_EQ(ParseProxyOrigin("http://[fe80::1]"), (ProxyOrigin{"http", "fe80::1", 80}));
  for (const char* text :
       {"http://", "http://h:", "http://h:0", "http://h:65536", "http://h:8x", "gopher://h", "http://h/p",
        "http://h#f", "://h:1", "1ttp://h:1", "http://[::1", "http://h:80:80"})
    EXPECT_FALSE(ParseProxyOrigin(text)) << text;
}

TEST(ProxyInfoTest, PageObjectsConvertWithThePortRangeAndTheCredentialRule) {
  LogCapture log;
  ProxyObjectMembers members{true, true, "http", "h", 8080, "u", "secret"};
  EXPECT_EQ(ProxyFromObjectMembers(members), Proxy("http", "h", 8080, "u", "secret"));
  members.port = 65534;
  EXPECT_TRUE(ProxyFromObjectMembers(members));
  members.port = 8080.9;
  EXPECT_EQ(ProxyFromObjectMembers(members)->port, 8080) << "a fraction is cut off";
  for (double refused : {65535.0, 0.0, -1.0, 0.5, std::nan(""), double(INFINITY), 1e10}) {
    members.port = refused;
    EXPECT_FALSE(ProxyFromObjectMembers(members)) << refused;
  }
  members.port = 1;
  members.has_port = false;
  EXPECT_FALSE(ProxyFromObjectMembers(members));
  members.has_port = true;
  members.has_host = false;
  EXPECT_FALSE(ProxyFromObjectMembers(members));
  EXPECT_EQ(log.Text().find("Only Http"), std::string::npos) << "credentials on http are fine";

  // Credentials on another scheme: accepted, logged, the password kept out.
  ProxyObjectMembers socks{true, true, "socks5", "s", 1080, "user", "secret"};
  EXPECT_EQ(ProxyFromObjectMembers(socks), Proxy("socks5", "s", 1080, "user", "secret"));
  const std::string text = log.Text();
  EXPECT_NE(text.find(":ERROR:"), std::string::npos) << text;
  EXPECT_NE(text.find("Only Http Proxy Support Authentication. Now The Proxy Issocks5://user:***@s:1080"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("secret"), std::string::npos);
}

TEST(ProxyInfoTest, TheEngineTextOfARecord) {
  EXPECT_EQ(ProxyListText(Proxy("http", "h", 1)), "http://h:1");
  EXPECT_EQ(ProxyListText(Proxy("", "h", 1)), "h:1");
  EXPECT_EQ(ProxyListText(Proxy("socks5", "2001:db8::1", 1080)), "socks5://[2001:db8::1]:1080");
  EXPECT_EQ(ProxyListText(Proxy("http", "", 1)), "http://:1");
}

TEST(ProxyWireTest, RequestsAreParsedStrictly) {
  auto lookup = proxy_wire::ParseRequest("tok lookup http://a.test:80");
  ASSERT_TRUE(lookup);
  EXPECT_EQ(lookup->kind, proxy_wire::Request::Kind::kLookup);
  EXPECT_EQ(lookup->token, "tok");
  EXPECT_EQ(lookup->connection, "http://a.test:80");
  auto failure = proxy_wire::ParseRequest("tok failed -3 PAC script broken");
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, -3);
  EXPECT_EQ(failure->text, "PAC script broken");
  for (const char* bad : {"", "tok", " lookup x", "tok lookup ", "tok fetch x", "tok failed x y",
                          "tok failed", "tok failed - x", "tok failed 99999999999 x"})
    EXPECT_FALSE(proxy_wire::ParseRequest(bad)) << bad;
  EXPECT_FALSE(proxy_wire::ParseRequest("t lookup " + std::string(proxy_wire::kMaxLineBytes, 'a')));
  EXPECT_EQ(proxy_wire::LookupLine("t", "x\ny"), "t lookup x y\n") << "no line feed inside a line";
}

// A client of the resolver socket, as the module is.
class ResolverClient {
 public:
  explicit ResolverClient(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~ResolverClient() { ::close(fd_); }
  bool connected() const { return connected_; }
  // The answer line, or "" once the server closed the connection.
  std::string Ask(const std::string& line) {
    if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) return "";
    std::string answer;
    char c = 0;
    while (::recv(fd_, &c, 1, 0) == 1 && c != '\n') answer.push_back(c);
    return answer;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

TEST(ProxyResolverServerTest, AnswersWithTheTokenOnlyAndLogsSystemFailures) {
  LogCapture log;
  ProxyResolverServer& server = ProxyResolverServer::Get();
  ASSERT_TRUE(server.Start());
  ProxyManager::Get().Clear();
  ProxyManager::Get().SetProxyForUrl("http://a.test", Proxy("http", "p", 3128));
  const std::string token = server.token();
  ASSERT_EQ(token.size(), 32u);

  ResolverClient client(server.socket_path());
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.Ask(proxy_wire::LookupLine(token, "http://a.test:80")), "proxy http://p:3128");
  EXPECT_EQ(client.Ask(proxy_wire::LookupLine(token, "http://b.test:80")), "system");
  // The table changes between two questions on one connection.
  ProxyManager::Get().RemoveProxyForUrl("http://a.test");
  EXPECT_EQ(client.Ask(proxy_wire::LookupLine(token, "http://a.test:80")), "system");
  EXPECT_EQ(client.Ask(proxy_wire::FailureLine(token, 7, "Could not download PAC file")), "ok");
  EXPECT_NE(log.Text().find("WinHttpGetProxyForUrl failed(7): Could not download PAC file"),
            std::string::npos)
      << log.Text();

  // A wrong token is refused and the connection closed.
  EXPECT_EQ(client.Ask(proxy_wire::LookupLine(std::string(32, '0'), "http://a.test:80")), "refused");
  EXPECT_EQ(client.Ask(proxy_wire::LookupLine(token, "http://a.test:80")), "");
  // So is a line without an end within the limit.
  ResolverClient flood(server.socket_path());
  EXPECT_EQ(flood.Ask(std::string(proxy_wire::kMaxLineBytes + 10, 'x')), "refused");
  // Others are still served.
  ResolverClient later(server.socket_path());
  EXPECT_EQ(later.Ask(proxy_wire::LookupLine(token, "http://c.test:80")), "system");
  server.Stop();
  ProxyManager::Get().Clear();
}

TEST(ProxyEnvironmentTest, OurVariablesReachTheEngineAndProgramsWeStartGetTheUsersBack) {
  ::setenv("GIO_EXTRA_MODULES", "/users/modules", 1);
  ::unsetenv("GIO_USE_PROXY_RESOLVER");
  PrepareNetworkProcessEnvironment("/prog/gio", "/run/sock", "tok");
  PrepareNetworkProcessEnvironment("/prog/gio", "/run/sock", "tok");  // twice changes nothing
  EXPECT_STREQ(::getenv("GIO_EXTRA_MODULES"), "/prog/gio:/users/modules");
  EXPECT_STREQ(::getenv("GIO_USE_PROXY_RESOLVER"), "vesk");
  EXPECT_STREQ(::getenv("VESK_PROXY_SOCKET"), "/run/sock");

  const std::vector<std::string> child = update::ChildEnvironment(environ);
  std::vector<std::string> ours;
  for (const std::string& entry : child)
    if (entry.rfind("GIO_", 0) == 0 || entry.rfind("VESK_", 0) == 0) ours.push_back(entry);
  EXPECT_EQ(ours, std::vector<std::string>{"GIO_EXTRA_MODULES=/users/modules"});
  for (const char* name : {"GIO_EXTRA_MODULES", "GIO_USE_PROXY_RESOLVER", "VESK_PROXY_SOCKET",
                           "VESK_PROXY_TOKEN", "VESK_SAVED_GIO_EXTRA_MODULES"})
    ::unsetenv(name);
}

}  // namespace
}  // namespace vesk
