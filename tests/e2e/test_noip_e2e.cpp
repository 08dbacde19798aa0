// A No-IP account and host made from the DDNS page as a user does it, in
// tavlin-host against dvr-sim and the local No-IP service: Setup, the DDNS
// tab, the No-IP row, "Create Account", the account form's two stages and
// "OK". The service then holds the account and the host, and dvr-sim the
// DDNS item the page applied.
#include "tests/noip/NoipFixture.h"
#include "tests/support/HostRun.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string At(const char* what, int x, int y, int ms, const std::string& text = "")
{
    std::string s =
        std::string(" --") + what + " " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(ms);
    if (!text.empty()) s += "," + text;
    return s;
}

// The lines of the recorder that hold what, for a failure's message.
std::string SimLines(SimProcess& sim, const char* what)
{
    std::string text;
    for (const std::string& line : sim.lines())
        if (line.find(what) != std::string::npos) text += line + "\n";
    return text;
}

TEST(NoipE2E, AnAccountAndAHostFromTheDdnsPage)
{
    HostFolder folder("tavlin-noip-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
    NoipServer service;
    ASSERT_GT(service.port(), 0);
    setenv("TAVLIN_NOIP_API_HOST", "127.0.0.1", 1);
    setenv("TAVLIN_NOIP_API_PORT", std::to_string(service.port()).c_str(), 1);
    setenv("TAVLIN_NOIP_OEM_DOMAIN", "dvrlink.net", 1);
    const std::string page = folder.Path("page.html"), formShot = folder.Path("form.png"),
                      pageShot = folder.Path("ddns.png");
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));

    // On the control: Setup on the key panel, the DDNS tab once the
    // recorder's item is in (Apply no longer greyed), the No-IP row (the
    // third) of the service list, "Create Account", and the form it opens.
    std::string steps = " --wait-video 60000" + At("click", 955, 46, 0) + At("click", 249, 56, 0) +
                        " --wait-enabled 619,527,60000" + At("click", 347, 253, 0) +
                        " --key 0,Down --key 0,Down --key 0,Enter" + At("click", 600, 253, 0) +
                        " --wait-window '60000,No-IP Setting'";
    // On the account form: the account stage; the host stage once the
    // form's polls have brought the account and the domain list (its
    // "Hostname :" shows); the finish stage once they have brought the
    // host and the account's data (its host shows); "OK".
    steps += " --window 'No-IP Setting'";
    steps += At("type", 268, 172, 0, "dave2026") + At("type", 268, 212, 0, "dave@example.com") +
             At("type", 268, 252, 0, "secret12") + At("type", 268, 300, 0, "secret12") +
             At("type", 556, 220, 0, "Dave") + At("type", 556, 260, 0, "Miller") + At("type", 556, 300, 0, "80331") +
             At("click", 487, 344, 0) + At("click", 537, 409, 0);
    steps += " --wait-text '120,200,60000,Hostname :'" + At("type", 252, 204, 0, "davecam") + At("click", 541, 409, 0);
    steps += " --wait-text '475,196,60000,davecam.ddns.net' --shot 0,'" + formShot + "'" + At("click", 537, 409, 0);
    // Back on the control once the page has applied the item: the DDNS
    // page's user name and host name edits.
    steps += " --window '' --wait-msgbox 60000 --read 297,285,0 --read 347,349,0 --shot 0,'" + pageShot + "'";
    std::string out;
    ASSERT_EQ(RunHost(sim, folder, HostOnPage(page) + steps + " --events --run-ms 0", &out), 0) << out;

    // The one message on the way is the page's confirmation of the applied item.
    EXPECT_EQ(Count(out, "msgbox"), 1u) << out;
    EXPECT_NE(out.find("msgbox caption=\"Setup Information\" text=\"Setup Successful.\""), std::string::npos) << out;
    std::string state = service.control("GET", "/_control/state");
    EXPECT_NE(state.find("\"username\": \"dave2026\""), std::string::npos) << state;
    EXPECT_NE(state.find("\"hostname\": \"davecam.ddns.net\""), std::string::npos) << state;
    for (const std::string& line : service.log()) EXPECT_EQ(LogField(line, "verdict"), "ok") << line;

    EXPECT_NE(out.find("text 297,285=\"dave2026\""), std::string::npos) << out;
    EXPECT_NE(out.find("text 347,349=\"davecam.ddns.net\""), std::string::npos) << out;
    // The page applied the DDNS item: No-IP with the account and the host.
    EXPECT_TRUE(sim.Seen("ddns service=3 user=\"dave2026\" password=\"secret12\" host=\"davecam.ddns.net\""))
        << out << SimLines(sim, "icmd");
    std::vector<uint8_t> png;
    EXPECT_TRUE(ReadFile(formShot, &png));
    EXPECT_TRUE(ReadFile(pageShot, &png));
}

} // namespace
