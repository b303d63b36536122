#pragma once
// The accounts file: a login name, a salted PBKDF2-SHA256 hash of the password and the account's role
// per line,
//   name:pbkdf2-sha256:ITERATIONS:SALT-HEX:HASH-HEX:ROLE     (ROLE "admin" or "user")
// A line without the role is an administrator's: files written before roles existed keep their rights.
// Every change locks the file, reads it again and writes it whole and atomically, so that changes made
// meanwhile by another process (--add-user, a hand edit) are kept.
#include <functional>
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
// The most PBKDF2 iterations an account may use: beyond this one check would hold a login for seconds.
constexpr int kMaxHashIterations = 1000000;

class AccountStore {
 public:
  enum class Outcome { Done, BadName, EmptyPassword, Exists, WrongLogin, SaveFailed };

  AccountStore(std::string path, int iterations) : path_(std::move(path)), iterations_(iterations) {}

  // A missing file is an empty store; a file that cannot be read or parsed is an error.
  bool Load(std::string& error);
  // Loads the file again when it changed on disk since it was last read or written (an account added
  // by hand or with --add-user); keeps what it holds when the file is unreadable now.
  bool Refresh(std::string& error);

  // Passwords count in their 16-character form, cut or padded with blanks, as the clients send them.
  bool Verify(std::string_view name, std::string_view password) const { return CheckFor(name).Run(password); }
  PasswordCheck CheckFor(std::string_view name) const;
  // The decoy's cost: the dearest check the file holds, so that no name answers faster than another.
  int HighestIterations() const;
  // A name that differs from an existing one only in letter case is taken too.
  Outcome Add(std::string_view name, std::string_view password, bool admin, std::string& error);
  Outcome ChangePassword(std::string_view name, std::string_view oldPassword, std::string_view newPassword,
                         std::string& error);

  bool Has(std::string_view name) const { return accounts_.count(std::string(name)) != 0; }
  bool IsAdmin(std::string_view name) const;
  size_t Size() const { return accounts_.size(); }
  const std::string& Path() const { return path_; }

  // One to eight letters, digits, "_", "." or "-": a name the file and the clients' 8-character field hold.
  static bool ValidName(std::string_view name);

 private:
  struct Entry {
    int iterations = 0;
    std::string salt;
    std::string hash;
    bool admin = true;
  };
  using Map = std::map<std::string, Entry>;
  struct FileStamp {
    long long inode = -1, size = -1, modified = -1;
    bool operator==(const FileStamp&) const = default;
  };

  Entry MakeEntry(std::string_view password, bool admin) const;
  bool Read(Map& accounts, std::string& error) const;
  FileStamp Stamp() const;
  // Locks the file, reads what it holds now, lets change edit that, and writes the result: the in-memory
  // accounts become the file's. change returns Done to write, anything else to leave the file alone.
  Outcome Update(const std::function<Outcome(Map&)>& change, std::string& error);
  bool Save(const Map& accounts, std::string& error) const;

  std::string path_;
  int iterations_;
  Map accounts_;
  FileStamp loaded_;
};

const char* OutcomeText(AccountStore::Outcome outcome);

}  // namespace ovs
