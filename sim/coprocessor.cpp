// The simulated coprocessor on the master side of the pseudo-terminal, built
// on the thermostat's own link layer.
#include "coprocessor.h"

#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "decode.h"
#include "encoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace sim {

namespace {

// Reports go out once a second of simulated time; the bus identity (address
// and version) every 30 seconds and whenever the thermostat starts.
constexpr int64_t REPORT_PERIOD_MS = 1000;
constexpr int64_t IDENTITY_PERIOD_MS = 30000;
// A download that hears nothing from the receiver for this long is given up.
constexpr int64_t DOWNLOAD_IDLE_MS = 30000;
// The manufacturing tests' link test frame and the answers.
constexpr const char *LINK_TEST_FRAME = "Kz8mWq3VbN5tR7pLd";
constexpr const char *LINK_TEST_ANSWER = "ABCDE";
constexpr const char *BUS_TEST_PASS = "KorabusTestPass";
constexpr const char *BUS_TEST_FAIL = "KorabusTestFail";

Coprocessor *s_Active = nullptr;

// The download sender's answer time-outs run on host time: the transfer's
// pace is the link's, not the simulated clock's.
int64_t hostMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int requestIndex(uint8_t type) {
    switch (type) {
    case COPROC_PKT_REQ_TEMP:
        return 0;
    case COPROC_PKT_REQ_HUMIDITY:
        return 1;
    case COPROC_PKT_REQ_VOLTAGE:
        return 2;
    case COPROC_PKT_REQ_STATUS:
        return 3;
    default:
        return -1;
    }
}

// The thermostat's command keywords; those of queries are answered.
constexpr const char *c_Queries[] = {"ST",  "?PG",     "?SERIAL",       "HVER",
                                     "VER", "?FILTER", "?EXTERNAL_TEMP"};
constexpr const char *c_Settings[] = {"CLOCK", "SLEEP",  "WAKE",     "ZAP!",    "FH",    "FL", "FK",
                                      "CF",    "SP",     "MD",       "FM",      "LK",    "BK", "PG",
                                      "CD",    "SERIAL", "PRESSURE", "MESSAGE", "FILTER"};

// What the console says when a command string was not answered.
std::string noAnswerLine(const std::string &text) {
    std::string keyword = text.substr(0, text.find(' '));
    auto named = [&keyword](const char *k) { return keyword == k; };
    std::string line = "coproc: no answer from the thermostat to \"" + escapeText(text) + "\"";
    if (std::any_of(std::begin(c_Queries), std::end(c_Queries), named)) {
        return line + ": it refused the query (a day, period or argument out of range)";
    }
    if (std::any_of(std::begin(c_Settings), std::end(c_Settings), named)) {
        return line + " (a setting it takes is not answered, one it refuses changes nothing: "
                      "ST, ?PG or ?FILTER show what it holds)";
    }
    return line + ": \"" + escapeText(keyword) +
           "\" is not one of its commands (docs/control-bus.md lists them)";
}

std::vector<uint8_t> textBytes(const std::string &text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

} // namespace

Coprocessor::Coprocessor(int masterFd, House &house, const CoprocessorOptions &options,
                         Printer print)
    : m_link(coprocCommAttach(masterFd, &Coprocessor::onFrame)), m_house(house), m_options(options),
      m_print(std::move(print)), m_garbageSeed(options.seed != 0 ? options.seed : 1) {
    m_exchangedLevels.fill(-1);
    s_Active = this;
}

Coprocessor::~Coprocessor() {
    coprocCommClose(m_link);
    if (s_Active == this) {
        s_Active = nullptr;
    }
}

int Coprocessor::onFrame(const uint8_t *frame, uint16_t length) {
    if (s_Active != nullptr) {
        s_Active->handleFrame(frame, length);
    }
    return 0;
}

void Coprocessor::onPassthroughByte(uint8_t byte) {
    if (s_Active == nullptr) {
        return;
    }
    Coprocessor *self = s_Active;
    // Only the receiver's own answers keep the transfer alive: the
    // thermostat's periodic requests (framed) go on whether it takes the
    // download or not.
    if (byte != COPROC_SLIP_END && !self->m_download.inFrame()) {
        self->m_downloadActivityMs = self->m_nowMs;
    }
    std::vector<uint8_t> answer = self->m_download.onByte(byte, self->downloadClockMs());
    if (!answer.empty()) {
        self->sendRaw(answer);
    }
    self->downloadProgress();
}

void Coprocessor::downloadProgress() {
    unsigned percent = 0;
    if (m_download.takeProgress(&percent)) {
        char line[96];
        snprintf(line, sizeof(line), "coproc: download %u %% (%zu of %zu blocks)", percent,
                 m_download.blocksAcknowledged(), m_download.blocks());
        say(line);
    }
    if (m_download.state() == DownloadSender::State::Done) {
        finishDownload("complete");
    } else if (m_download.state() == DownloadSender::State::Failed && m_link->passthrough != 0) {
        finishDownload(("failed: " + m_download.failure()).c_str());
    }
}

void Coprocessor::say(const std::string &line) const {
    if (m_print) {
        m_print(line);
    }
}

bool Coprocessor::silent() const {
    return m_silentUntilMs >= 0 && m_nowMs < m_silentUntilMs;
}

bool Coprocessor::quiet() const {
    return silent() || m_download.active();
}

void Coprocessor::poll(int64_t nowMs, bool readLink) {
    m_nowMs = nowMs;
    if (m_silentUntilMs >= 0 && nowMs >= m_silentUntilMs) {
        m_silentUntilMs = -1;
        say("coproc: silence over");
    }
    if (readLink) {
        coprocCommPoll(m_link);
    }
    checkAnswer();
    if (m_download.active()) {
        std::vector<uint8_t> again = m_download.onTick(downloadClockMs());
        if (!again.empty()) {
            sendRaw(again);
        }
        downloadProgress();
    }
    if (m_download.active() && m_downloadActivityMs < 0) {
        m_downloadActivityMs = nowMs;
    }
    if (m_download.active() && nowMs - m_downloadActivityMs > DOWNLOAD_IDLE_MS) {
        m_download.cancel();
        finishDownload("abandoned: the thermostat stopped answering");
    }
    if (nowMs >= m_nextReportMs) {
        // At a high time scale a pass may come late: one set of reports per
        // pass, never a burst of the missed ones.
        m_nextReportMs = nowMs + REPORT_PERIOD_MS;
        if (!quiet()) {
            sendReports();
        }
    }
    if (nowMs >= m_nextIdentityMs) {
        m_nextIdentityMs = nowMs + IDENTITY_PERIOD_MS;
        if (!quiet()) {
            sendIdentity();
        }
    }
}

void Coprocessor::awaitAnswer(const std::string &text) {
    m_awaitedCommand = text;
    m_answerDueMs = ANSWER_FROM_NEXT_POLL;
}

void Coprocessor::checkAnswer() {
    // The wait starts at the pass that sends the command.
    if (m_answerDueMs == ANSWER_FROM_NEXT_POLL) {
        m_answerDueMs = m_nowMs + ANSWER_MS;
    }
    if (m_answerDueMs >= 0 && m_nowMs >= m_answerDueMs) {
        m_answerDueMs = NO_ANSWER_AWAITED;
        say(noAnswerLine(m_awaitedCommand));
    }
}

uint32_t Coprocessor::bytesSent() const {
    return m_link != nullptr ? m_link->bytesWritten : 0;
}

int64_t Coprocessor::downloadClockMs() const {
    return m_options.simulatedTimeouts ? m_nowMs : hostMs();
}

void Coprocessor::sendReports() {
    // The set of reports goes out in one write.
    coprocCommHold(m_link);
    ThermistorWords onboard = encodeOnboard(m_house.indoor() + m_options.sensorOffset);
    double externalC =
        m_options.external == ExternalSensor::Outdoor ? m_house.outdoor() : m_house.indoor();
    ThermistorWords external = encodeExternal(externalC);
    uint8_t temp[8];
    utilPutUint16BE(onboard.first, temp);
    utilPutUint16BE(onboard.second, temp + 2);
    utilPutUint16BE(external.first, temp + 4);
    utilPutUint16BE(external.second, temp + 6);
    coprocCommSendPacket(m_link, COPROC_PKT_TEMP, sizeof(temp), temp);

    uint8_t humidity[2];
    utilPutUint16BE(encodeHumidity(m_house.indoorRh()), humidity);
    coprocCommSendPacket(m_link, COPROC_PKT_HUMIDITY, sizeof(humidity), humidity);

    uint8_t voltage[2];
    utilPutUint16BE(m_options.lineVoltage, voltage);
    coprocCommSendPacket(m_link, COPROC_PKT_LINE_VOLTAGE, sizeof(voltage), voltage);

    const uint8_t status[3] = {static_cast<uint8_t>(m_options.online ? 1 : 0), 0,
                               static_cast<uint8_t>(m_options.levelsEnabled ? 1 : 0)};
    coprocCommSendPacket(m_link, COPROC_PKT_BUS_STATUS, sizeof(status), status);
    coprocCommFlush(m_link);
}

void Coprocessor::sendIdentity() {
    coprocCommHold(m_link);
    coprocCommSendPacket(m_link, COPROC_PKT_BUS_ADDRESS, 1, &m_options.address);
    std::vector<uint8_t> version = textBytes(m_options.busVersion);
    version.push_back('\0');
    coprocCommSendPacket(m_link, COPROC_PKT_BUS_VERSION, static_cast<uint8_t>(version.size()),
                         version.data());
    coprocCommFlush(m_link);
}

void Coprocessor::reportNow() {
    m_nextReportMs = 0;
    m_nextIdentityMs = 0;
}

// The manufacturing test's link check is a bare frame without type,
// length or CRC, recognised by its text alone; true when it was one.
bool Coprocessor::handleLinkTest(const uint8_t *frame, uint16_t length) {
    if (length != strlen(LINK_TEST_FRAME) || memcmp(frame, LINK_TEST_FRAME, length) != 0) {
        return false;
    }
    if (m_options.answersLinkTest) {
        say("tstat> link test frame \"" + std::string(LINK_TEST_FRAME) + "\"");
        sendString(LINK_TEST_ANSWER);
    } else {
        say("tstat> link test frame \"" + std::string(LINK_TEST_FRAME) + "\" (not answered)");
    }
    return true;
}

void Coprocessor::handleFrame(const uint8_t *frame, uint16_t length) {
    if (handleLinkTest(frame, length)) {
        return;
    }
    if (coprocCommCheckFrame(frame, length) != 0) {
        m_badFrames++;
        say("tstat> bad frame (CRC): " + hexBytes(frame, length));
        return;
    }
    uint8_t type = frame[0];
    int request = requestIndex(type);
    if (request >= 0) {
        m_requests[request]++;
        if (m_options.showRequests) {
            say("tstat> " + decodeFrame(frame, length));
        }
        return;
    }
    say("tstat> " + decodeFrame(frame, length));
    if (type == COPROC_PKT_REPLY || type == COPROC_PKT_VERSION) {
        m_answerDueMs = NO_ANSWER_AWAITED;
    }
    const uint8_t *payload = frame + 2;
    size_t n = length - COPROC_FRAME_OVERHEAD;
    if (type == COPROC_PKT_SEND_CHANNEL || type == COPROC_PKT_SEND_CHANNEL_ALT ||
        type == COPROC_PKT_SEND_LEVEL || type == COPROC_PKT_REPLY || type == COPROC_PKT_VERSION) {
        toBus(type, payload, n);
    }
    switch (type) {
    case COPROC_PKT_STARTUP:
        // The thermostat (re)started: tell it who the bus interface is.
        m_addressBytes.clear();
        if (!quiet()) {
            sendIdentity();
        }
        break;
    case COPROC_PKT_SET_ADDRESS:
        if (n >= 1) {
            handleAddressByte(payload[0]);
        }
        break;
    case COPROC_PKT_BUS_TEST:
        sendString(m_options.busTestPasses ? BUS_TEST_PASS : BUS_TEST_FAIL);
        break;
    case COPROC_PKT_SEND_LEVEL:
        if (n >= 2) {
            m_exchangedLevels[payload[0]] = payload[1];
        }
        break;
    default:
        break;
    }
}

void Coprocessor::handleAddressByte(uint8_t byte) {
    m_addressBytes.push_back(byte);
    if (m_addressBytes.size() < 3) {
        return;
    }
    uint8_t a = m_addressBytes[0];
    bool valid = m_addressBytes[1] == static_cast<uint8_t>(~a) && m_addressBytes[2] == a;
    m_addressBytes.clear();
    if (!valid) {
        say("coproc: address sequence rejected (address, complement, address expected)");
        return;
    }
    m_options.address = a;
    char line[64];
    snprintf(line, sizeof(line), "coproc: bus address is now %u", a);
    say(line);
    coprocCommSendPacket(m_link, COPROC_PKT_BUS_ADDRESS, 1, &m_options.address);
    toBus(COPROC_PKT_BUS_ADDRESS, &m_options.address, 1);
}

void Coprocessor::setBusSink(BusSink sink) {
    m_busSink = std::move(sink);
    toBus(COPROC_PKT_BUS_ADDRESS, &m_options.address, 1);
}

void Coprocessor::toBus(uint8_t type, const uint8_t *payload, size_t length) const {
    if (m_busSink) {
        m_busSink(type, payload, length);
    }
}

void Coprocessor::sendChannel(uint8_t channel, uint8_t state) {
    const uint8_t payload[2] = {channel, state};
    coprocCommSendPacket(m_link, COPROC_PKT_CHANNEL, sizeof(payload), payload);
}

void Coprocessor::sendLevel(uint8_t level, uint8_t value) {
    const uint8_t payload[2] = {level, value};
    coprocCommSendPacket(m_link, COPROC_PKT_LEVEL, sizeof(payload), payload);
    m_exchangedLevels[level] = value;
}

void Coprocessor::sendCommand(const std::string &text) {
    std::vector<uint8_t> payload;
    payload.push_back(static_cast<uint8_t>(text.size()));
    payload.insert(payload.end(), text.begin(), text.end());
    sendPacket(COPROC_PKT_COMMAND, payload);
}

void Coprocessor::sendString(const std::string &text) {
    sendPacket(COPROC_PKT_STRING, textBytes(text));
}

void Coprocessor::sendPacket(uint8_t type, const std::vector<uint8_t> &payload) {
    size_t n = payload.size() > 255 ? 255 : payload.size();
    coprocCommSendPacket(m_link, type, static_cast<uint8_t>(n), payload.data());
}

void Coprocessor::sendRaw(const std::vector<uint8_t> &bytes) {
    for (size_t at = 0; at < bytes.size(); at += 255) {
        size_t n = bytes.size() - at > 255 ? 255 : bytes.size() - at;
        coprocCommSendRaw(m_link, static_cast<uint8_t>(n), bytes.data() + at);
    }
}

void Coprocessor::setLineVoltage(uint16_t reading) {
    m_options.lineVoltage = reading;
}

void Coprocessor::setOnline(bool online) {
    m_options.online = online;
}

void Coprocessor::setLevelsEnabled(bool enabled) {
    m_options.levelsEnabled = enabled;
}

void Coprocessor::setAddress(uint8_t address) {
    m_options.address = address;
    toBus(COPROC_PKT_BUS_ADDRESS, &m_options.address, 1);
    if (!quiet()) {
        sendIdentity();
    }
}

void Coprocessor::setBusVersion(const std::string &version) {
    m_options.busVersion = version;
    if (!quiet()) {
        sendIdentity();
    }
}

void Coprocessor::silence(double seconds) {
    m_silentUntilMs = seconds > 0 ? m_nowMs + static_cast<int64_t>(seconds * 1000.0) : -1;
}

void Coprocessor::garbage(size_t count) {
    // A fixed xorshift sequence: repeatable, and free of the END byte so the
    // garbage cannot close or open frames by itself.
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < count; i++) {
        m_garbageSeed ^= m_garbageSeed << 13;
        m_garbageSeed ^= m_garbageSeed >> 17;
        m_garbageSeed ^= m_garbageSeed << 5;
        auto b = static_cast<uint8_t>(m_garbageSeed);
        bytes.push_back(b == COPROC_SLIP_END ? 0x3F : b);
    }
    sendRaw(bytes);
}

void Coprocessor::badCrc() {
    ThermistorWords onboard = encodeOnboard(m_house.indoor());
    uint8_t payload[8] = {};
    utilPutUint16BE(onboard.first, payload);
    utilPutUint16BE(onboard.second ^ 0x0100, payload + 2);
    uint8_t encoded[COPROC_MAX_ENCODED];
    size_t n =
        coprocCommEncode(COPROC_PKT_TEMP, sizeof(payload), payload, encoded, sizeof(encoded));
    // Corrupt the low CRC byte (the byte before the closing END, or the
    // escaped pair's second byte: either way the CRC no longer matches).
    uint8_t &crcLow = encoded[n - 2];
    crcLow = crcLow == COPROC_SLIP_ESC_END || crcLow == COPROC_SLIP_ESC_ESC
                 ? static_cast<uint8_t>(crcLow ^ 0x01)
                 : static_cast<uint8_t>(crcLow ^ 0x5A);
    if (crcLow == COPROC_SLIP_END || crcLow == COPROC_SLIP_ESC) {
        crcLow = 0x00;
    }
    sendRaw(std::vector<uint8_t>(encoded, encoded + n));
}

void Coprocessor::overlong(size_t bodyLength) {
    std::vector<uint8_t> payload(
        bodyLength > COPROC_FRAME_OVERHEAD ? bodyLength - COPROC_FRAME_OVERHEAD : 0, 'X');
    sendPacket(COPROC_PKT_STRING, payload);
}

bool Coprocessor::startDownload(const std::string &path, int destination) {
    if (m_download.active()) {
        say("coproc: a download is already running");
        return false;
    }
    std::string why;
    if (!m_download.startFile(path, &why)) {
        say("error: " + why);
        return false;
    }
    // Counted from the next pass: a console line runs before the pass has
    // read the clock, and the first one before any pass did.
    m_downloadActivityMs = -1;
    char line[96];
    snprintf(line, sizeof(line),
             "coproc: download of %zu bytes in %zu blocks, waiting for the thermostat",
             m_download.size(), m_download.blocks());
    say(line);
    sendCommand(destination == 2 ? "SFLASH2\r" : "SFLASH1\r");
    coprocCommEnterPassthrough(m_link, &Coprocessor::onPassthroughByte);
    return true;
}

void Coprocessor::cancelDownload() {
    if (m_download.active()) {
        m_download.cancel();
        finishDownload("cancelled");
    }
}

void Coprocessor::finishDownload(const char *how) {
    coprocCommExitPassthrough(m_link);
    char line[128];
    snprintf(line, sizeof(line), "coproc: download %s (%zu of %zu blocks acknowledged, %u NAK)",
             how, m_download.blocksAcknowledged(), m_download.blocks(), m_download.naks());
    say(line);
}

std::string Coprocessor::takeRequestCounts() {
    char text[64];
    snprintf(text, sizeof(text), "%u/%u/%u/%u", m_requests[0], m_requests[1], m_requests[2],
             m_requests[3]);
    for (unsigned &r : m_requests) {
        r = 0;
    }
    return text;
}

} // namespace sim
