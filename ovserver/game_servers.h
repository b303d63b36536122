#pragma once
// The game servers this OV server runs: one process each, its output cut into console lines and the
// last lines kept for clients that open its console later.
#include <QObject>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ovserver/server_config.h"

class QProcess;

namespace ovs {

constexpr size_t kMaxLineLength = 4096;       // longer output is cut into lines of this length
constexpr qint64 kMaxPendingInput = 1 << 20;  // a server that stops reading its input gets no more

// Game output made fit for console frames: 0xFD and 0xFE would break the frame, so they become their
// low-half twins, as the game's own character set draws them.
std::string ConsoleSafe(std::string_view text);

// The id after last that taken does not hold: 1 to 999 or 2000 to 9999, since codes 1000 to 1999 are
// control messages and 0 is the OV server's own console; -1 when every id is taken.
int NextServerId(int last, const std::function<bool(int)>& taken);

// How a game server's end is told: "stopped" when it was asked to stop, else "exit code 0", or "crashed:"
// with the exit code or the signal that ended it.
std::string EndedHow(bool stopAsked, bool crashed, int codeOrSignal);

// Whether an end not asked for here counts as a crash, which a type's restart policy answers: any
// signal but SIGTERM, SIGINT and SIGHUP (with which the host's administrator stops a program), or a
// non-zero exit code. Exit code 0 is a stop from within (a quit typed into its console).
bool IsCrash(bool signalled, int codeOrSignal);

// Seconds before the attempt-th restart (from 1) within the window: 1, 5, 25, then 60.
int RestartDelaySeconds(int attempt);

// What the consoles are told of a crash: "Server 3 crashed (signal 11): restarting in 5 s, 2 of 3", or
// with the limit reached "Server 3 crashed (exit code 2): not restarted, 3 restarts in 600 s already".
struct CrashReport {
  std::string cause;  // "signal 11" or "exit code 2"
  int delaySeconds = 0;
  int attempt = 0;  // 0 when the limit is reached
  RestartPolicy policy;
};
std::string CrashNotice(int id, const CrashReport& report);

class GameServers : public QObject {
  Q_OBJECT
 public:
  struct Server {
    int id = 0;
    std::string type;
    std::string title;
    std::string commandLine;
    std::string program;
    std::vector<std::string> arguments;
    bool running = false;     // started and not yet ended
    bool stopAsked = false;   // by Stop: its end is then "stopped", whatever the exit
    bool restarting = false;  // crashed, and waiting to start again or starting
    RestartPolicy restart;    // its type's
    std::deque<std::chrono::steady_clock::time_point> restarts;  // within the policy's window
    int gamePort = 0;  // the game port it was given, 0 for none (its type asks for none)
    qint64 pid = 0;
    std::chrono::steady_clock::time_point startedAt;
    std::deque<std::string> backlog;
    std::string partialLine;
    QProcess* process = nullptr;
  };

  GameServers(size_t backlogLines, int maxServers, PortRange ports = {})
      : backlogLines_(backlogLines), maxServers_(maxServers), ports_(ports) {}
  ~GameServers() override;

  // Starts the type's executable with args and then the type's own (see ComposeArguments), with a game
  // port of its own when the type asks for one; the id or -1 with error. An empty title becomes the
  // type's name and the id. When the type's policy asks for it, a crash (IsCrash) starts the same
  // command line again under the same id, game port and backlog, told through onCrashed; onExited comes
  // only once no restart follows.
  // What follows arrives through the callbacks, never from within this call.
  int Start(const ServerType& type, const std::string& title, const std::string& commandLine,
            const std::vector<std::string>& args, std::string& error);
  // Sends one line to the server's standard input; false with error when it cannot take it.
  bool Input(int id, std::string_view line, std::string& error);
  bool Stop(int id);  // asks it to end, then kills it when it does not
  void StopAll();     // ends every server before returning; no callbacks

  const Server* Find(int id) const;
  std::vector<const Server*> List() const;
  size_t Count() const { return servers_.size(); }
  // Shorter restart delays for tests: milliseconds per second of delay.
  void SetRestartDelayScale(int msPerSecond) { restartDelayScale_ = msPerSecond; }

  std::function<void(int id)> onStarted;
  std::function<void(int id)> onRestarted;                           // running again after a crash
  std::function<void(int id, const CrashReport& report)> onCrashed;  // with a restart policy only
  std::function<void(int id, const std::string& error)> onFailed;    // never started; the id is gone
  std::function<void(int id, const std::string& line)> onLine;
  // how: "stopped" (by Stop), "exit code 0", or "crashed: " with the exit code or signal; the id and its
  // game port are free after this.
  std::function<void(int id, const std::string& how)> onExited;
  // Lets go of every handler above, for whoever set them and is going away.
  void ClearHandlers() {
    onStarted = nullptr;
    onFailed = nullptr;
    onLine = nullptr;
    onExited = nullptr;
    onCrashed = nullptr;
    onRestarted = nullptr;
  }

 private:
  int NextId();
  // The port after the last one given that is free, or 0 when a game server or another program holds
  // every port of the range.
  int NextPort();
  void ReadOutput(int id);
  void EmitLine(Server& server, std::string_view line);
  // Creates and starts the server's process; every report comes through the callbacks.
  void Spawn(Server& server);
  void Ended(int id, int code, bool signalled);
  // Whether the crashed server starts again: schedules it and tells onCrashed either way.
  bool ScheduleRestart(Server& server, int code, bool signalled);
  void Restart(int id);
  void Finish(int id, const std::string& how);

  size_t backlogLines_;
  int maxServers_;
  PortRange ports_;
  int lastId_ = 0;
  int lastPort_ = 0;
  int restartDelayScale_ = 1000;  // ms per second of RestartDelaySeconds
  std::map<int, std::unique_ptr<Server>> servers_;
};

}  // namespace ovs
