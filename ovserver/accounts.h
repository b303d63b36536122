#pragma once
// The accounts file: a login name and a salted PBKDF2-SHA256 hash of the password per line,
//   name:pbkdf2-sha256:ITERATIONS:SALT-HEX:HASH-HEX
// rewritten whole and atomically on every change.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ovs {

// What checking one password against one account takes, copied out of the store so that a worker
// thread can run it while the store changes. For an unknown name it is a decoy that costs as much.
struct PasswordCheck {
  int iterations = 0;
  std::string salt;
  std::string hash;
  bool real = false;
  bool Run(std::string_view password) const;
};

class AccountStore {
 public:
  enum class Outcome { Done, BadName, EmptyPassword, Exists, WrongLogin, SaveFailed };

  AccountStore(std::string path, int iterations) : path_(std::move(path)), iterations_(iterations) {}

  // A missing file is an empty store; a file that cannot be read or parsed is an error.
  bool Load(std::string& error);

  // Passwords count in their 16-character form, cut or padded with blanks, as the clients send them.
  bool Verify(std::string_view name, std::string_view password) const { return CheckFor(name).Run(password); }
  PasswordCheck CheckFor(std::string_view name) const;
  // The decoy's cost: the dearest check the file holds, so that no name answers faster than another.
  int HighestIterations() const;
  Outcome Add(std::string_view name, std::string_view password, std::string& error);
  Outcome ChangePassword(std::string_view name, std::string_view oldPassword, std::string_view newPassword,
                         std::string& error);

  bool Has(std::string_view name) const { return accounts_.count(std::string(name)) != 0; }
  size_t Size() const { return accounts_.size(); }
  const std::string& Path() const { return path_; }

  // One to eight letters, digits, "_", "." or "-": a name the file and the clients' 8-character field hold.
  static bool ValidName(std::string_view name);

 private:
  struct Entry {
    int iterations = 0;
    std::string salt;
    std::string hash;
  };
  Entry MakeEntry(std::string_view password) const;
  bool Save(std::string& error) const;

  std::string path_;
  int iterations_;
  std::map<std::string, Entry> accounts_;
};

const char* OutcomeText(AccountStore::Outcome outcome);

}  // namespace ovs
