#pragma once
// The desktop's keyring as the login dialog uses it: a password kept under a key. Every request is
// answered later, exactly once and within a bounded time, never while the caller waits.
#include <functional>
#include <string>

namespace ov {

struct KeyringAnswer {
  enum class Kind { Done, NotFound, Failed, Unavailable };
  Kind kind = Kind::Failed;
  std::string password;  // what Read found
  std::string reason;    // Failed or Unavailable: what the user is told
};

class PasswordStore {
 public:
  using Handler = std::function<void(const KeyringAnswer&)>;
  virtual ~PasswordStore() = default;
  // Done when a keyring is there to ask, Unavailable with the reason otherwise; reads no password.
  virtual void Probe(Handler done) = 0;
  virtual void Read(const std::string& key, Handler done) = 0;
  virtual void Write(const std::string& key, const std::string& password, Handler done) = 0;
  virtual void Remove(const std::string& key, Handler done) = 0;  // Done also when there was none
};

}  // namespace ov
