#pragma once
// The accounts file: a login name, a salted PBKDF2-SHA256 hash of the password and the account's role
// per line,
//   name:pbkdf2-sha256:ITERATIONS:SALT-HEX:HASH-HEX:ROLE     (ROLE "admin" or "user")
// A line without the role is an administrator's: files written before roles existed keep their rights.
// Every change locks the file, reads it again and writes it whole and atomically, so that changes made
// meanwhile by another process (--add-user, a hand edit) are kept; a file that changed while the new one
// was written is read and changed again.
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
  enum class Outcome { Done, BadName, EmptyPassword, Exists, WrongLogin, SaveFailed, Busy };
  // How the file is locked: waiting for another writer a few seconds (a command-line run), or not at
  // all, answering Busy (the server, which tries again later rather than stop serving anyone).
  enum class Lock { Wait, Try };
  struct Entry {
    int iterations = 0;
    std::string salt;
    std::string hash;
    bool admin = true;
  };

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

  // The same in two steps, so that the hashing (NewEntry, safe on any thread) runs off the thread that
  // serves the clients. Replace writes entry only while the name still holds what verified was made of.
  Entry NewEntry(std::string_view password, bool admin) const;
  Outcome AddEntry(std::string_view name, const Entry& entry, std::string& error, Lock lock = Lock::Wait);
  Outcome Replace(std::string_view name, const PasswordCheck& verified, const Entry& entry,
                  std::string& error, Lock lock = Lock::Wait);
  int Iterations() const { return iterations_; }

  bool Has(std::string_view name) const { return accounts_.count(std::string(name)) != 0; }
  bool IsAdmin(std::string_view name) const;
  size_t Size() const { return accounts_.size(); }
  const std::string& Path() const { return path_; }

  // One to eight letters, digits, "_", "." or "-": a name the file and the clients' 8-character field hold.
  static bool ValidName(std::string_view name);

  // Runs after a change is written to the new file and before it replaces the old one (tests edit the
  // file there, as a hand could).
  std::function<void()> beforeReplace;

 private:
  using Map = std::map<std::string, Entry>;
  struct FileStamp {
    long long inode = -1, size = -1, modified = -1;
    bool operator==(const FileStamp&) const = default;
  };

  bool Read(Map& accounts, std::string& error) const;
  FileStamp Stamp() const;
  // Locks the file, reads what it holds now, lets change edit that, and writes the result: the in-memory
  // accounts become the file's. change returns Done to write, anything else to leave the file alone.
  // change may run more than once, on the file as it is each time.
  Outcome Update(const std::function<Outcome(Map&)>& change, std::string& error, Lock lock);
  // Writes accounts unless the file no longer has stamp when it is to be replaced: false, changed false.
  bool Save(const Map& accounts, const FileStamp& stamp, bool& changed, std::string& error) const;

  std::string path_;
  int iterations_;
  Map accounts_;
  FileStamp loaded_;
};

const char* OutcomeText(AccountStore::Outcome outcome);

}  // namespace ovs
