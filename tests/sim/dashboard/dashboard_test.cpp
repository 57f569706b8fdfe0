// The dashboard's server, driven the way the simulator drives it: one
// poll() per pass, with plain sockets on loopback as the browser.
#include "dashboard/dashboard.h"
#include "dashboard/dashboard_model.h"

#include "board/board_link.h"

#include "board_root.h"
#include "console.h"
#include "house/house.h"
#include "key_pad.h"
#include "platform/platform.h"
#include "poll_until.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A dashboard on a free port with a house and a console of its own.
struct Fixture {
    TempBoardRoot root;
    sim::House house{sim::HouseParams{}};
    bool paused = false;
    bool quit = false;
    std::vector<std::string> said;
    sim::KeyPad keys;
    sim::ConsoleContext ctx{
        nullptr, &house, &paused, &quit, [this](const std::string &l) { said.push_back(l); },
        [] {},   &keys,  {}};
    sim::Dashboard dashboard{house, ctx};
    int64_t simMs = 1000;
    int64_t slowestPollMs = 0;

    Fixture() {
        std::string error;
        EXPECT_TRUE(dashboard.start(0, &error)) << error;
    }
    void poll() {
        auto start = Clock::now();
        keys.poll(simMs);
        dashboard.poll(simMs);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        slowestPollMs = std::max<int64_t>(slowestPollMs, ms.count());
    }
    // Polls until done() or five host seconds have passed.
    bool pollUntil(const std::function<bool()> &done) {
        return ::pollUntil([this] { poll(); }, done, std::chrono::seconds(5));
    }
    int connect() {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        struct sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(dashboard.port()));
        ::connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr));
        return fd;
    }
    void send(int fd, const std::string &bytes) {
        size_t done = 0;
        EXPECT_TRUE(pollUntil([&] {
            ssize_t put = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            done += put > 0 ? static_cast<size_t>(put) : 0;
            return done == bytes.size();
        }));
    }
    std::string receive(int fd, const std::string &until) {
        std::string got;
        pollUntil([&] {
            char buf[4096];
            ssize_t n;
            while ((n = read(fd, buf, sizeof(buf))) > 0) {
                got.append(buf, static_cast<size_t>(n));
            }
            return got.find(until) != std::string::npos || n == 0;
        });
        return got;
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(dashboard.port()); }
    // One request on its own connection; returns the whole response.
    std::string request(const std::string &method, const std::string &target,
                        const std::string &body = "", const std::string &extra = "") {
        int fd = connect();
        std::string head = method + " " + target + " HTTP/1.1\r\nHost: " + host() +
                           "\r\nConnection: close\r\n" + extra;
        if (method == "POST") {
            head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        }
        send(fd, head + "\r\n" + body);
        std::string got = receive(fd, "\x01never");
        close(fd);
        return got;
    }
    static int status(const std::string &response) {
        return response.size() > 12 ? std::stoi(response.substr(9, 3)) : 0;
    }
};

TEST(Dashboard, BadRequestsGetAClearClientError) {
    Fixture f;
    struct Case {
        const char *method;
        const char *target;
        std::string body;
        std::string extra;
        int status;
    };
    const std::string evilHost = "Host: evil.example\r\n";
    const Case cases[] = {
        {"GET", "/nowhere", "", "", 404},
        {"GET", "/api/key", "", "", 405},
        {"POST", "/index.html", "", "", 405},
        {"POST", "/api/key?name=left&action=tap", "", "", 400},
        {"POST", "/api/key?name=up&action=smash", "", "", 400},
        {"POST", "/api/key?name=up", "", "", 400},
        // Nobody reads the key FIFO: the press cannot be delivered.
        {"POST", "/api/key?name=up&action=tap", "", "", 503},
        {"POST", "/api/scale?value=0.09", "", "", 400},
        {"POST", "/api/scale?value=3600.5", "", "", 400},
        {"POST", "/api/scale?value=fast", "", "", 400},
        {"POST", "/api/console", "", "", 400},
        {"POST", "/api/console", "channel 1 2\nquit", "", 400},
        {"POST", "/api/console", "frobnicate", "", 400},
        {"POST", "/api/console", std::string(1024, 'x'), "", 400},
        {"POST", "/api/console", std::string(1025, 'x'), "", 413},
        {"POST", "/api/console", "pause", "Origin: http://evil.example\r\n", 403},
        {"GET", "/api/state", "", "Origin: http://evil.example\r\n", 200},
        {"POST", "/api/console", "set outdoor -3", "Origin: http://" + f.host() + "\r\n", 200},
    };
    for (const Case &c : cases) {
        std::string response = f.request(c.method, c.target, c.body, c.extra);
        EXPECT_EQ(Fixture::status(response), c.status) << c.method << " " << c.target << "\n"
                                                       << response;
    }
    EXPECT_DOUBLE_EQ(f.house.params().outdoorMean, -3.0);
    EXPECT_NE(f.request("GET", "/api/state").find("\"outdoorMean\":-3"), std::string::npos);
    EXPECT_FALSE(f.quit);
    EXPECT_FALSE(f.paused);
    // In lock-step time the state and the scale's answer agree: none to change.
    f.dashboard.setLockstep(true);
    EXPECT_EQ(Fixture::status(f.request("POST", "/api/scale?value=10")), 409);
    EXPECT_NE(f.request("GET", "/api/state").find("\"scale\":0"), std::string::npos);

    // A page under another host name (a rebound DNS name) and a request that
    // is not HTTP at all.
    int fd = f.connect();
    f.send(fd, "GET /api/state HTTP/1.1\r\n" + evilHost + "Connection: close\r\n\r\n");
    EXPECT_EQ(Fixture::status(f.receive(fd, "\x01never")), 403);
    close(fd);
    fd = f.connect();
    f.send(fd, "HELLO THERE\r\n\r\n");
    EXPECT_EQ(Fixture::status(f.receive(fd, "\x01never")), 400);
    close(fd);
}

TEST(Dashboard, StreamCarriesScreenAndConsoleAndKeysReachTheFifo) {
    Fixture f;
    f.root.write("/sim/screen.png", "PNG-FRAME-1");
    f.poll();
    int stream = f.connect();
    f.send(stream, "GET /events HTTP/1.1\r\nHost: " + f.host() + "\r\n\r\n");
    std::string got = f.receive(stream, "event: state");
    EXPECT_NE(got.find("\"screen\":1"), std::string::npos) << got;
    f.dashboard.said("12:00:00 tstat> reply \"SERIAL 123\" [0x0C]");
    EXPECT_NE(f.receive(stream, "[0x0C]").find("event: console\ndata: 12:00:00 tstat> reply"),
              std::string::npos);
    f.root.write("/sim/screen.png", "PNG-FRAME-2");
    EXPECT_NE(f.receive(stream, "event: screen\ndata: 2").find("data: 2"), std::string::npos);
    EXPECT_NE(f.request("GET", "/screen.png").find("image/png"), std::string::npos);
    close(stream);

    // A tap is a press now and a release 100 ms of simulated time later.
    std::string fifo = f.root.file("/dev/input/event0");
    mkdir(f.root.file("/dev").c_str(), 0755);
    mkdir(f.root.file("/dev/input").c_str(), 0755);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int keys = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(Fixture::status(f.request("POST", "/api/key?name=up&action=tap")), 200);
    uint8_t record[PLATFORM_KEY_EVENT_SIZE * 2];
    EXPECT_EQ(read(keys, record, sizeof(record)), static_cast<ssize_t>(PLATFORM_KEY_EVENT_SIZE));
    EXPECT_EQ(record[10] | record[11] << 8, BUTTON_CODE_UP);
    EXPECT_EQ(record[12], 1);
    f.simMs += 99;
    f.poll();
    EXPECT_EQ(read(keys, record, sizeof(record)), -1);
    f.simMs += 1;
    f.poll();
    EXPECT_EQ(read(keys, record, sizeof(record)), static_cast<ssize_t>(PLATFORM_KEY_EVENT_SIZE));
    EXPECT_EQ(record[12], 0);
    // A held key stays down until the page releases it.
    EXPECT_EQ(Fixture::status(f.request("POST", "/api/key?name=mode&action=press")), 200);
    f.simMs += 5000;
    f.poll();
    EXPECT_EQ(read(keys, record, sizeof(record)), static_cast<ssize_t>(PLATFORM_KEY_EVENT_SIZE));
    EXPECT_EQ(record[12], 1);
    EXPECT_EQ(Fixture::status(f.request("POST", "/api/key?name=mode&action=release")), 200);
    f.poll();
    EXPECT_EQ(read(keys, record, sizeof(record)), static_cast<ssize_t>(PLATFORM_KEY_EVENT_SIZE));
    EXPECT_EQ(record[12], 0);

    // The values (1 pressed, 0 released) of the records written so far.
    auto written = [&] {
        std::string values;
        while (read(keys, record, PLATFORM_KEY_EVENT_SIZE) == PLATFORM_KEY_EVENT_SIZE) {
            values += static_cast<char>('0' + record[12]);
        }
        return values;
    };
    // Five taps sent faster than a tap lasts all arrive, each 100 ms after
    // the release before it.
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(Fixture::status(f.request("POST", "/api/key?name=down&action=tap")), 200);
    }
    std::string values = written();
    for (int step = 0; step < 12; step++) {
        f.simMs += 100;
        f.poll();
        values += written();
    }
    EXPECT_EQ(values, "1010101010");
    EXPECT_EQ(std::count(f.said.begin(), f.said.end(), "web> key down"), 5);

    // On a run ten times faster than real time, a held key holds simulated
    // time to real time: its press is written once that is in force, and
    // the scale before comes back once it is released.
    setenv("TSTAT_TIME_SCALE", "10", 1);
    platformReset();
    EXPECT_EQ(Fixture::status(f.request("POST", "/api/key?name=mode&action=press")), 200);
    EXPECT_EQ(written(), "");
    EXPECT_TRUE(f.pollUntil([&] { return (values = written()) != ""; }));
    EXPECT_EQ(values, "1");
    EXPECT_DOUBLE_EQ(platformTimeScale(), 1.0);
    EXPECT_EQ(Fixture::status(f.request("POST", "/api/key?name=mode&action=release")), 200);
    f.simMs += 100;
    f.poll();
    EXPECT_EQ(written(), "0");
    EXPECT_TRUE(f.pollUntil([] { return platformTimeScale() == 10.0; }));
    // So does a menu while it is shown (the main page with a pop-up open),
    // and the page says so.
    f.root.write("/sim/page", "0 1\n");
    f.keys.setMenuShown(true);
    EXPECT_TRUE(f.pollUntil([] { return platformTimeScale() == 1.0; }));
    std::string state = f.request("GET", "/api/state");
    for (const char *part :
         {"\"popUp\":true", "\"realTime\":\"a menu is shown\"", "\"restoreScale\":10.0"}) {
        EXPECT_NE(state.find(part), std::string::npos) << part << state;
    }
    f.keys.setMenuShown(false);
    EXPECT_TRUE(f.pollUntil([] { return platformTimeScale() == 10.0; }));
    unsetenv("TSTAT_TIME_SCALE");
    close(keys);
}

TEST(Dashboard, PagesThatStopReadingOrVanishAreDroppedWithoutWaiting) {
    Fixture f;
    const std::string request = "GET /events HTTP/1.1\r\nHost: " + f.host() + "\r\n\r\n";
    int stalled = f.connect();
    f.send(stalled, request);
    int vanished = f.connect();
    f.send(vanished, request);
    ASSERT_TRUE(f.pollUntil([&] { return f.dashboard.streamCount() == 2; }));
    close(vanished);
    // Far more console output than the socket buffers and the backlog hold.
    const std::string line(1000, 'x');
    for (int i = 0; i < 20000; i++) {
        f.dashboard.said(line);
        if (i % 50 == 0) {
            f.poll();
        }
    }
    EXPECT_TRUE(f.pollUntil([&] { return f.dashboard.streamCount() == 0; }));
    EXPECT_LT(f.slowestPollMs, 250);
    close(stalled);
    // The server still serves new pages.
    EXPECT_EQ(Fixture::status(f.request("GET", "/api/state")), 200);
}

TEST(Dashboard, SlowClientsAndOpenPagesLeaveRoomForOthers) {
    Fixture f;
    // Forty clients that trickle in a header line at a time, more than the
    // server's connections: each new one closes the slowest beyond a few, and
    // a page's request is answered at once.
    std::vector<int> slow;
    for (int i = 0; i < 40; i++) {
        slow.push_back(f.connect());
        f.send(slow.back(), "GET /api/state HTTP/1.1\r\n");
        f.poll();
        f.send(slow.back(), "X-Slow: " + std::to_string(i) + "\r\n");
    }
    EXPECT_EQ(Fixture::status(f.request("GET", "/api/state")), 200);
    // The first ones were closed to make that room.
    char byte;
    EXPECT_TRUE(f.pollUntil([&] { return read(slow.front(), &byte, 1) == 0; }));
    for (int fd : slow) {
        close(fd);
    }
    // Seventeen pages open one after another: each gets its stream, the
    // oldest page making room for the newest.
    std::vector<int> pages;
    for (int i = 0; i < 17; i++) {
        pages.push_back(f.connect());
        f.send(pages.back(), "GET /events HTTP/1.1\r\nHost: " + f.host() + "\r\n\r\n");
        EXPECT_EQ(Fixture::status(f.receive(pages.back(), "event: state")), 200) << i;
    }
    EXPECT_TRUE(f.pollUntil([&] {
        ssize_t n;
        while ((n = read(pages.front(), &byte, 1)) > 0) {
        }
        return n == 0;
    }));
    for (int fd : pages) {
        close(fd);
    }
}

TEST(DashboardModel, SamplesShowShortRunsAndKeepSixHours) {
    TempBoardRoot root;
    sim::House house{sim::HouseParams{}};
    sim::DashboardModel model;
    std::array<char, RELAY_COUNT> open;
    open.fill('0');
    std::array<char, RELAY_COUNT> heating = open;
    heating[RELAY_W1E] = '1';
    const int64_t period = sim::DashboardModel::SAMPLE_PERIOD_MS;
    EXPECT_TRUE(model.sample(0, house));
    // W1 closed for one pass between two samples still shows in the next.
    house.setRelays(heating);
    EXPECT_FALSE(model.sample(period / 2, house));
    house.setRelays(open);
    EXPECT_FALSE(model.sample(period - 1, house));
    EXPECT_TRUE(model.sample(period, house));
    EXPECT_EQ(model.lastSample().relays, 1u << RELAY_W1E);
    EXPECT_TRUE(model.sample(2 * period, house));
    EXPECT_EQ(model.lastSample().relays, 0u);
    // One sample more than the history holds: the first one is dropped.
    for (size_t i = 3; i <= sim::DashboardModel::HISTORY_SIZE; i++) {
        EXPECT_TRUE(model.sample(static_cast<int64_t>(i) * period, house));
    }
    nlohmann::json history = nlohmann::json::parse(model.historyJson());
    ASSERT_EQ(history.size(), sim::DashboardModel::HISTORY_SIZE);
    // The oldest kept is the sample with the W1 run.
    EXPECT_EQ(history[0]["relays"], 1u << RELAY_W1E);
    EXPECT_EQ(history[1]["relays"], 0u);

    // Heating and cooling are what the equipment made of its stages: a heat
    // pump's compressor heats unless O/B is closed.
    struct Case {
        sim::Equipment equipment;
        std::vector<RelayIndex> closed;
        bool heating, cooling;
    };
    const Case cases[] = {
        {sim::Equipment::Furnace, {RELAY_W1E}, true, false},
        {sim::Equipment::Furnace, {RELAY_Y1}, false, true},
        {sim::Equipment::HeatPump, {RELAY_Y1}, true, false},
        {sim::Equipment::HeatPump, {RELAY_Y1, RELAY_OB}, false, true},
        {sim::Equipment::HeatPump, {RELAY_OB, RELAY_G1}, false, false},
    };
    for (const Case &c : cases) {
        sim::HouseParams params;
        params.equipment = c.equipment;
        sim::House equipped{params};
        std::array<char, RELAY_COUNT> contacts = open;
        for (RelayIndex r : c.closed) {
            contacts[r] = '1';
        }
        equipped.setRelays(contacts);
        sim::DashboardModel fresh;
        ASSERT_TRUE(fresh.sample(0, equipped));
        EXPECT_EQ(fresh.lastSample().heating, c.heating) << &c - cases;
        EXPECT_EQ(fresh.lastSample().cooling, c.cooling) << &c - cases;
    }
}

TEST(BoardConsole, KeepsTheVersionRunningAndTheLastVerdictTheInstallerSaid) {
    sim::BoardConsole console;
    std::vector<std::string> said;
    auto say = [&](const std::string &l) { said.push_back(l); };
    const std::string back = "version 2.0 failed its trial (3 failed starts); back to version 1.0 "
                             "in slot a";
    const struct {
        std::string line;
        const char *software;
        std::string verdict;
    } steps[] = {
        {"[    1.5] UBIFS (ubi0:0): mounted", "", ""},
        {"tstat-update: running version 1.0 (slot a)", "1.0 (slot a)", ""},
        // Lines the installer did not frame: not its own.
        {"x\rtstat-update: version 6.6.6 installed in slot b; starting it on trial", "1.0 (slot a)",
         ""},
        {"tar: tstat-update: version 6.6.6 installed in slot b; starting it on trial",
         "1.0 (slot a)", ""},
        {"tstat-update: update refused: signature does not match", "1.0 (slot a)",
         "update refused: signature does not match"},
        {"tstat-update: version 2.0 installed in slot b; starting it on trial",
         "2.0 (slot b, on trial)", "version 2.0 installed in slot b; starting it on trial"},
        {"tstat-update: update refused: x\\x0aversion 6.6.6 is good: not a plain name",
         "2.0 (slot b, on trial)", "update refused: x\\x0aversion 6.6.6 is good: not a plain name"},
        {"tstat-update: " + back, "1.0 (slot a)", back},
        {"tstat-update: running version 2.0 (slot b) on trial, start 2 of 3",
         "2.0 (slot b, on trial)", back},
        {"tstat-update: version 2.0 is good: the coprocessor answered its requests", "2.0 (slot b)",
         "version 2.0 is good: the coprocessor answered its requests"},
    };
    for (const auto &step : steps) {
        console.line(step.line, say);
        EXPECT_EQ(console.software(), step.software) << step.line;
        EXPECT_EQ(console.verdict(), step.verdict) << step.line;
    }
    EXPECT_EQ(said.size(), std::size(steps) - 3);
    EXPECT_EQ(said[0], "board: tstat-update: running version 1.0 (slot a)");
    // The page the application says it shows, not said again.
    int page = 0;
    bool popUp = true;
    EXPECT_FALSE(console.page(&page, &popUp));
    console.line("page shown: 4 1", say);
    EXPECT_TRUE(console.page(&page, &popUp));
    EXPECT_EQ(page, 4);
    EXPECT_TRUE(popUp);
    EXPECT_EQ(said.size(), std::size(steps) - 3);
}

} // namespace
