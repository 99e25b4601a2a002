// Kestrun.exe under Wine behind the user's proxy settings (Internet Settings in the registry),
// with Debian's tinyproxy as the company proxy: the manual proxy, its bypass list, a PAC
// script, and a proxy that wants a password the launcher does not have.

#include "tests/launcher/e2e_fixture.h"
#include "tests/support/loopback_server.h"
#include "tests/wine_e2e/wine_session.h"

namespace wine_e2e {
namespace {

using namespace e2e;

const std::string kConnections =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// DefaultConnectionSettings: version 0x46, a counter, the flags (1 direct, 2 manual proxy,
// 4 PAC address, 8 auto-detect), then the proxy, bypass list and PAC address, each with its
// length before it, then zeros; in hex for reg add.
std::string connectionSettings(unsigned flags, const std::vector<std::string>& texts) {
  std::string bytes;
  const auto dword = [&bytes](std::size_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xff);
  };
  dword(0x46), dword(1), dword(flags);
  for (const std::string& text : texts) dword(text.size()), bytes += text;
  bytes.append(32, '\0');
  std::string hex;
  for (unsigned char c : bytes) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
  return hex;
}

struct ProxyRow {
  const char* name;
  const char* missingInWine;  // not empty: the row is skipped, and this says why
  unsigned flags;
  bool manualProxy;           // the test's tinyproxy as the manual proxy
  std::string bypass;
  bool pacScript;             // the test's PAC script, which names its tinyproxy
  std::string proxyConfig;    // lines added to tinyproxy's configuration: a refused logon
  std::string proxyLine;      // the launcher's log line about its proxy
  bool throughProxy;          // whether the manifest request passes the proxy
};

class SystemProxy : public WineEndToEnd {};

TEST_F(SystemProxy, TheUsersSettingsChooseTheRouteOfEveryRequest) {
  const std::string manual = "网络代理：127.0.0.1:{N}（来源：手动设置）";
  const ProxyRow rows[] = {
      {"manual proxy", "", 3, true, "", false, "", manual, true},
      {"bypass list naming the update server", "", 3, true, "intranet;127.0.0.*;<local>", false, "",
       "网络代理：直连（来源：手动设置；在绕过列表中）", false},
      {"PAC script", "", 5, false, "", true, "", "网络代理：127.0.0.1:{N}（来源：PAC 脚本 http://127.0.0.1:{N}/proxy.pac）",
       true},
      {"proxy wanting a password", "", 3, true, "", false, "BasicAuth fennick secret", manual, true},
      {"WPAD discovery", "Wine's WinHttpDetectAutoProxyConfigUrl finds no script without a DHCP or DNS server "
       "that names one (ERROR_WINHTTP_AUTODETECTION_FAILED)", 9, false, "", false, "", "", true},
      {"Negotiate and NTLM logon", "SSPI logon needs a domain account and a proxy that asks for Negotiate or "
       "NTLM; Wine has no domain and tinyproxy asks only for Basic", 3, true, "", false, "", "", true},
  };
  publishSampleRelease(release());
  testing_support::LoopbackServer pacServer;
  std::string pacScript;
  pacServer.server().Get("/proxy.pac", [&pacScript](const httplib::Request&, httplib::Response& response) {
    response.set_content(pacScript, "application/x-ns-proxy-autoconfig");
  });
  pacServer.start();
  auto server = startServer();
  ASSERT_TRUE(server->running());

  int number = 0;
  for (const ProxyRow& row : rows) {
    SCOPED_TRACE(row.name);
    if (*row.missingInWine) {
      wineNote(std::string("row skipped, ") + row.name + ": " + row.missingInWine);
      continue;
    }
    const fs::path dir = root() / ("row-" + std::to_string(++number));
    fs::create_directories(dir);
    Tinyproxy proxy(dir, row.proxyConfig);
    ASSERT_TRUE(proxy.running());
    pacScript = "function FindProxyForURL(url, host) {\n  return host == \"127.0.0.1\" ? \"PROXY " +
                proxy.address() + "; DIRECT\" : \"DIRECT\";\n}\n";
    const std::vector<std::string> texts = {row.manualProxy ? proxy.address() : "", row.bypass,
                                            row.pacScript ? pacServer.baseUrl() + "/proxy.pac" : ""};
    ASSERT_EQ(session().run({"wine", "reg", "add", kConnections, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                             "/d", connectionSettings(row.flags, texts), "/f"}, dir / "reg-add.txt", 60000), 0);
    Installation installation(dir / "install");
    installation.mirror(release());
    installation.setMainProgramBehaviour("stay 60");
    const std::size_t requestsBefore = server->requests().size();

    const LauncherOutcome outcome = installation.run({}, runOptions());
    session().run({"wine", "reg", "delete", kConnections, "/v", "DefaultConnectionSettings", "/f"},
                  dir / "reg-delete.txt", 60000);

    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0u) << outcome.standardError;
    // A refused logon ends the check before the server is asked; the program runs on.
    const bool refused = !row.proxyConfig.empty();
    const std::vector<Expected> outcomeLines =
        refused ? std::vector<Expected>{{"WARN", "更新检查失败：无法获取更新清单：代理服务器身份验证失败：127.0.0.1:{N}（HTTP 407）"}}
                : std::vector<Expected>{{"INFO", "更新检查完成：待更新文件=0"},
                                        {"INFO", "本次没有文件需要更新，现有 Vardel 继续运行"}};
    EXPECT_TRUE(logMatches(outcome.log, concat({startLines(installation, true), earlyStartLines(installation),
                                                {checkStartLine(), {"INFO", row.proxyLine}}, outcomeLines,
                                                {closingLine()}})));
    const std::vector<std::string> manifest = {"GET " + buildSetup().baseUrl + "/gis/update/list?platform=windows"};
    EXPECT_EQ(proxy.requests(), row.throughProxy ? manifest : std::vector<std::string>{});
    EXPECT_EQ(server->requests().size(), requestsBefore + (refused ? 0 : 1));
    EXPECT_EQ(installation.mainProgramStarts(1).size(), 1u);
  }
}

}  // namespace
}  // namespace wine_e2e
