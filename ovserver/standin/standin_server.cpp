// standin-server: a stand-in dedicated game server for the demo and the tests. It prints a start-up
// banner that lists its arguments one by one, a log line now and then, and answers a few console
// commands on its standard input: status, map NAME, say TEXT, lines N and quit.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct State {
  std::string map = "dm1";
  int maxPlayers = 8;
  Clock::time_point started = Clock::now();
};

void Say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

long Uptime(const State& state) {
  return long(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - state.started).count());
}

void Spawn(const std::string& map) {
  Say("Spawning server " + map);
  Say("Server spawned.");
}

// Handles one console line; false when the server is to end.
bool Command(State& state, std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  const size_t cut = line.find(' ');
  const std::string command = line.substr(0, cut);
  const std::string rest = cut == std::string::npos ? "" : line.substr(cut + 1);
  if (command.empty()) return true;
  if (command == "status") {
    Say("map:     " + state.map);
    Say("players: 0 active (" + std::to_string(state.maxPlayers) + " max)");
    Say("uptime:  " + std::to_string(Uptime(state)) + " s");
  } else if (command == "map") {
    if (rest.empty()) {
      Say("usage: map NAME");
    } else {
      state.map = rest;
      Say("Changing map to " + rest);
      Spawn(rest);
    }
  } else if (command == "say") {
    Say("Server: " + rest);
  } else if (command == "lines") {
    const int count = std::atoi(rest.c_str());
    for (int i = 1; i <= count && i <= 1000000; ++i) Say("line " + std::to_string(i) + " of " + rest);
  } else if (command == "quit") {
    Say("Server shutting down.");
    return false;
  } else {
    Say("Unknown command \"" + command + "\"");
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  State state;
  int interval = 10;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (std::find(args.begin(), args.end(), "--help") != args.end()) {
    Say("usage: standin-server [--interval SECONDS] [+map NAME] [+maxplayers N] [ARGUMENT...]");
    Say("A stand-in game server: it lists its arguments, logs a line every SECONDS (10; 0 for never)");
    Say("and answers status, map NAME, say TEXT, lines N and quit on its standard input.");
    return 0;
  }
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--interval") interval = std::atoi(args[i + 1].c_str());
    if (args[i] == "+map") state.map = args[i + 1];
    if (args[i] == "+maxplayers") state.maxPlayers = std::atoi(args[i + 1].c_str());
  }
  Say("Console initialized.");
  Say("Orvane stand-in dedicated server 1.0 (no game data needed)");
  Say("------- Server Initialization -------");
  Say("Arguments: " + std::to_string(args.size()));
  for (size_t i = 0; i < args.size(); ++i) Say("  [" + std::to_string(i + 1) + "] " + args[i]);
  Spawn(state.map);
  Say("-------------------------------------");
  Say("Type status, map NAME, say TEXT or quit.");
  Say("^3Orvane ^1stand-in^7 ready on ^2" + state.map);  // in colour codes, as game servers greet

  std::string pending;
  auto nextLog = Clock::now() + std::chrono::seconds(interval);
  for (;;) {
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextLog - Clock::now()).count();
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, interval > 0 ? int(std::max<long long>(wait, 0)) : -1);
    if (ready < 0) continue;
    if (ready == 0) {
      std::time_t now = std::time(nullptr);
      char stamp[16];
      std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&now));
      Say(std::string("[") + stamp + "] " + state.map + ": 0 players, up " + std::to_string(Uptime(state)) +
          " s");
      nextLog = Clock::now() + std::chrono::seconds(interval);
      continue;
    }
    char buffer[4096];
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
      Say("Console input closed: shutting down.");
      return 0;
    }
    pending.append(buffer, size_t(got));
    for (size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      if (!Command(state, line)) return 0;
    }
  }
}
