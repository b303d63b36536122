// The frame pipeline without widgets: a stream of console frames (16, 80 or 1000-byte payloads) or of
// control messages, taken in reads of 32768 bytes that cut frames anywhere, as a socket gives them.
//
//   Memchr        the limit: only finds each frame's 0xFD and 0xFE in the same reads
//   Split         reassembly and splitting into frames where they lie, as the client reads, and the
//                 classification of every code
//   Feed          the same with every frame copied out
//   ReceiveFrames the whole read path of a client on fakes: the debug lines, reassembly, classification
//                 and the hand-over to the console window's log (or to the control dispatch)
//
// Payload 0 stands for control messages (code 1000, which only writes its debug lines).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bench/flood_stream.h"
#include "net/frame_receiver.h"
#include "tests/common/fakes.h"

namespace {

constexpr size_t kStreamBytes = 1 << 20;

struct Stream {
  std::string bytes;
  std::vector<std::string_view> reads;
  size_t frames = 0;
};

// Frames laid end to end for console 0 and console 1 in turn, cut into reads of the receive buffer's size.
const Stream& StreamOf(int payload) {
  static std::map<int, Stream> streams;
  Stream& s = streams[payload];
  if (!s.bytes.empty()) return s;
  std::string line;
  for (uint64_t i = 0; s.bytes.size() < kStreamBytes; ++i) {
    line.clear();
    if (payload == 0) {
      ov::flood::WriteLine(line, 1, 0, i, 24);
      ov::flood::AppendFrame(s.bytes, 1000, line);
    } else {
      ov::flood::WriteLine(line, 1, static_cast<int>(i % 2), i, static_cast<size_t>(payload));
      ov::flood::AppendFrame(s.bytes, static_cast<int>(i % 2), line);
    }
    ++s.frames;
  }
  for (size_t at = 0; at < s.bytes.size(); at += ov::kReceiveBufferSize)
    s.reads.push_back(std::string_view(s.bytes).substr(at, ov::kReceiveBufferSize));
  return s;
}

void Label(benchmark::State& state, int payload, const Stream& s) {
  state.SetLabel(payload == 0 ? "control" : std::to_string(payload) + "-byte console");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.bytes.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * s.frames));
  state.counters["frames_per_iteration"] = static_cast<double>(s.frames);
}

void BM_Memchr(benchmark::State& state) {
  const int payload = static_cast<int>(state.range(0));
  const Stream& s = StreamOf(payload);
  for (auto _ : state) {
    size_t found = 0;
    bool inFrame = false;
    for (std::string_view read : s.reads) {
      const char* p = read.data();
      const char* end = p + read.size();
      while (p < end) {
        const void* hit =
            std::memchr(p, inFrame ? ov::kFrameEnd : ov::kFrameStart, static_cast<size_t>(end - p));
        if (hit == nullptr) break;
        found += inFrame;
        inFrame = !inFrame;
        p = static_cast<const char*>(hit) + 1;
      }
    }
    benchmark::DoNotOptimize(found);
  }
  Label(state, payload, s);
}

void BM_Split(benchmark::State& state) {
  const int payload = static_cast<int>(state.range(0));
  const Stream& s = StreamOf(payload);
  ov::FrameAssembler assembler;
  std::vector<ov::FrameView> frames;
  for (auto _ : state) {
    int sum = 0;
    for (std::string_view read : s.reads) {
      std::string joined;
      frames.clear();
      assembler.Split(read, frames, joined);
      for (const ov::FrameView& frame : frames) {
        const ov::CodeClass kind = ov::ClassifyCode(frame.code);
        sum += kind.number + static_cast<int>(frame.payload.size());
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  Label(state, payload, s);
}

void BM_Feed(benchmark::State& state) {
  const int payload = static_cast<int>(state.range(0));
  const Stream& s = StreamOf(payload);
  ov::FrameAssembler assembler;
  for (auto _ : state) {
    int sum = 0;
    for (std::string_view read : s.reads) {
      for (const ov::Frame& frame : assembler.Feed(read).frames) {
        const ov::CodeClass kind = ov::ClassifyCode(frame.code);
        sum += kind.number + static_cast<int>(frame.payload.size());
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  Label(state, payload, s);
}

// A client on fakes, connected to one OV server that runs Quake server 1, both windows open.
struct ConnectedClient {
  ov::test::TestClient t;
  int socket = 0;
  ConnectedClient() {
    const int slot = t.Connect();
    socket = t.Socket(slot);
    std::string hello;
    ov::flood::AppendFrame(hello, 1021, std::string("info") + ov::flood::kSeparator + "Bench");
    ov::flood::AppendFrame(hello, 1027, "1");
    ov::flood::AppendFrame(hello, 1025,
                           std::string("1") + ov::flood::kSeparator + "i" + ov::flood::kSeparator + "Q1" +
                               ov::flood::kSeparator + "i" + ov::flood::kSeparator + "1" +
                               ov::flood::kSeparator + "1");
    t.Receive(socket, hello);
  }
};

void BM_ReceiveFrames(benchmark::State& state) {
  const int payload = static_cast<int>(state.range(0));
  const Stream& s = StreamOf(payload);
  ConnectedClient c;
  if (c.t.client.Consoles().Windows().size() != 2) {
    state.SkipWithError("the windows did not open");
    return;
  }
  std::string& incoming = c.t.sockets.sockets.at(c.socket).incoming;
  for (auto _ : state) {
    for (std::string_view read : s.reads) {
      incoming.assign(read);
      c.t.client.Receiver().ReceiveFrames(c.socket);
      c.t.loop.RunPending();  // the later turns that hand over the rest of the read
    }
  }
  benchmark::DoNotOptimize(c.t.client.Consoles().Windows().front()->log.Appended());
  Label(state, payload, s);
}

}  // namespace

// OV_BENCH_ITERATIONS=n runs every benchmark exactly n times: under callgrind, the difference between
// two counts of instructions divided by the runs between them is a figure that load does not move.
int main(int argc, char** argv) {
  const char* fixed = std::getenv("OV_BENCH_ITERATIONS");
  const std::pair<const char*, void (*)(benchmark::State&)> benchmarks[] = {
      {"BM_Memchr", BM_Memchr},
      {"BM_Split", BM_Split},
      {"BM_Feed", BM_Feed},
      {"BM_ReceiveFrames", BM_ReceiveFrames}};
  for (const auto& [name, run] : benchmarks) {
    for (int payload : {16, 80, 1000, 0}) {
      auto* b = benchmark::RegisterBenchmark(name, run)->Arg(payload)->Unit(benchmark::kMicrosecond);
      if (fixed) b->Iterations(std::atoi(fixed));
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
