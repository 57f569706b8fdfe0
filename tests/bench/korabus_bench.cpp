// Costs of the control bus: one command string through parse, handler and
// reply (a program query, and a mode change that saves the record), and a
// full channel dump after the bus came online. The link writes to /dev/null
// and the fake clock makes the 60 ms pauses after each channel free, so the
// figures are the thermostat's own work.
#include "bus_board.h"

#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "coproc_frame.h"
#include "korabus/korabus_data.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>

namespace {

class BusBoard {
  public:
    BusBoard() {
        busBoot(m_root, FactoryOptions{});
        g_coprocHdl = coprocCommAttach(open("/dev/null", O_WRONLY), coprocMsgProcess);
    }
    ~BusBoard() { coprocMsgReset(); }

  private:
    TempBoardRoot m_root;
};

void BM_CommandQuery(benchmark::State &state) {
    BusBoard board;
    for (auto _ : state) {
        busCommand("?PG D3 SP2");
    }
}
BENCHMARK(BM_CommandQuery);

void BM_CommandModeChangeAndSave(benchmark::State &state) {
    BusBoard board;
    for (auto _ : state) {
        busCommand("MD MPH H68 C76");
    }
}
BENCHMARK(BM_CommandModeChangeAndSave);

void BM_FullChannelDump(benchmark::State &state) {
    BusBoard board;
    const std::vector<uint8_t> offline = coprocFrameOf(COPROC_PKT_BUS_STATUS, {0, 0, 0});
    const std::vector<uint8_t> online = coprocFrameOf(COPROC_PKT_BUS_STATUS, {1, 0, 0});
    korabusDataPollChannels();
    for (auto _ : state) {
        coprocMsgProcess(offline.data(), static_cast<uint16_t>(offline.size()));
        coprocMsgProcess(online.data(), static_cast<uint16_t>(online.size()));
        korabusDataPollChannels();
    }
}
BENCHMARK(BM_FullChannelDump);

} // namespace
