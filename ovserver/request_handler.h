#pragma once
// What a connection asks for, one whole request at a time: its login before anything else, then the
// control messages and the OV server's console commands; game servers' business goes to the relay.
#include <QObject>
#include <chrono>
#include <functional>
#include <string>

#include "ovserver/accounts.h"
#include "ovserver/connection.h"
#include "ovserver/connection_manager.h"
#include "ovserver/game_relay.h"
#include "ovserver/login_queue.h"
#include "ovserver/scheduler.h"
#include "ovserver/server_config.h"

namespace ovs {

class RequestHandler : public QObject {
  Q_OBJECT
 public:
  RequestHandler(const ServerConfig& config, AccountStore& accounts, const ov::MessageCipher& cipher,
                 ConnectionManager& connections, LoginQueue& logins, GameRelay& relay, Scheduler& schedules);

  void HandleFrame(Connection& connection, const ov::Frame& frame);

 private:
  void HandleControl(Connection& connection, int n, const std::string& payload);
  void HandleLogin(Connection& connection, const std::string& payload);
  void LoginChecked(const Check& check, const CheckResult& result);
  void Welcome(Connection& connection);
  void RunCommand(Connection& connection, const std::string& line);
  void Who(Connection& connection);
  void HandleNewUser(Connection& connection, const std::string& payload);
  void NewUserHashed(const ConnectionHandle& handle, const std::string& name,
                     const AccountStore::Entry& entry);
  void HandleChangePassword(Connection& connection, const std::string& payload);
  void ChangeChecked(const Check& check, const CheckResult& result);
  // Answers a password change the login delay after its request, whatever the outcome.
  void AnswerChange(const Check& check, AccountStore::Outcome outcome, const std::string& error);
  // Tries a change of the accounts file until it gets the file's lock or the patience runs out; never
  // waits on the lock itself.
  void WriteAccounts(std::function<AccountStore::Outcome(std::string&)> attempt,
                     std::function<void(AccountStore::Outcome, const std::string&)> done,
                     Clock::time_point deadline);
  void Refuse(Connection& connection, const std::string& reason, Clock::time_point since = Clock::now());

  const ServerConfig& config_;
  AccountStore& accounts_;
  const ov::MessageCipher& cipher_;
  ConnectionManager& connections_;
  LoginQueue& logins_;
  GameRelay& relay_;
  Scheduler& schedules_;
  CountedLine unreadAccounts_{std::chrono::milliseconds(kMalformedLogIntervalMs)};
};

}  // namespace ovs
