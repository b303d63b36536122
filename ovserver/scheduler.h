#pragma once
// The schedules of this OV server: the "schedule" commands of its console (administrators only), the file
// that keeps them, and the one timer that waits for the next one due.
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ovserver/accounts.h"
#include "ovserver/connection.h"
#include "ovserver/connection_manager.h"
#include "ovserver/game_relay.h"
#include "ovserver/game_servers.h"
#include "ovserver/schedule.h"

namespace ovs {

class Scheduler : public QObject {
  Q_OBJECT
 public:
  // path empty: no schedules here. A file that is missing holds none; a damaged one is logged, runs none
  // and is never written over.
  Scheduler(std::string path, const AccountStore& accounts, GameServers& games, GameRelay& relay,
            ConnectionManager& connections);

  // "schedule list", "schedule add ENTRY", "schedule del N": line is the whole command as typed.
  void Command(Connection& connection, const std::string& line);
  bool Armed() const { return timer_.isActive(); }
  // The wall clock the schedules follow (the system's unless a test sets another); sets the timer again.
  using WallClock = std::function<std::chrono::system_clock::time_point()>;
  void SetClock(WallClock clock);

 private:
  // Reads the file again; false with error when it is damaged. Sets the agenda from what it holds.
  bool Read(std::string& error);
  void List(Connection& connection);
  void Add(Connection& connection, const std::string& entry);
  void Delete(Connection& connection, const std::string& which);
  // Writes schedules whole; on success they are the agenda.
  bool Write(Connection& connection, const std::vector<Schedule>& schedules);
  void Arm();
  void Fire();
  void Run(size_t index);
  void TellAdministrators(const std::string& line);
  std::time_t Now() const { return std::chrono::system_clock::to_time_t(clock_()); }

  std::string path_;
  const AccountStore& accounts_;
  GameServers& games_;
  GameRelay& relay_;
  ConnectionManager& connections_;
  WallClock clock_ = [] { return std::chrono::system_clock::now(); };
  std::vector<Schedule> schedules_;
  Agenda agenda_;
  QTimer timer_;
};

}  // namespace ovs
