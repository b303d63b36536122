#include "ovserver/accounts.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ovserver/file_store.h"
#include "wire/payload.h"

namespace ovs {
namespace {

constexpr char kScheme[] = "pbkdf2-sha256";
constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;

std::string Derive(std::string_view password, const std::string& salt, int iterations) {
  const std::string padded = ov::PadTo16(password);
  const QByteArray key = QPasswordDigestor::deriveKeyPbkdf2(
      QCryptographicHash::Sha256, QByteArray(padded.data(), qsizetype(padded.size())),
      QByteArray(salt.data(), qsizetype(salt.size())), iterations, kHashBytes);
  return key.toStdString();
}

// Compares without stopping at the first difference, so the time taken tells nothing about the hash.
bool SameBytes(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::vector<std::string> SplitColons(const std::string& line) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t cut = line.find(':', start);
    parts.push_back(line.substr(start, cut == std::string::npos ? std::string::npos : cut - start));
    if (cut == std::string::npos) return parts;
    start = cut + 1;
  }
}

bool FromHex(const std::string& hex, std::string& bytes) {
  const QByteArray raw = QByteArray::fromStdString(hex);
  const QByteArray decoded = QByteArray::fromHex(raw);
  if (hex.empty() || decoded.toHex() != raw.toLower()) return false;
  bytes = decoded.toStdString();
  return true;
}

std::string ToHex(const std::string& bytes) {
  return QByteArray(bytes.data(), qsizetype(bytes.size())).toHex().toStdString();
}

}  // namespace

const char* OutcomeText(AccountStore::Outcome outcome) {
  switch (outcome) {
    case AccountStore::Outcome::Done:
      return "done";
    case AccountStore::Outcome::BadName:
      return "a login name is one to eight letters, digits, \"_\", \".\" or \"-\"";
    case AccountStore::Outcome::EmptyPassword:
      return "the password is empty";
    case AccountStore::Outcome::Exists:
      return "that login name is taken";
    case AccountStore::Outcome::WrongLogin:
      return "wrong login name or password";
    case AccountStore::Outcome::SaveFailed:
    case AccountStore::Outcome::Busy:
      return "the accounts file could not be written";
  }
  return "";
}

bool AccountStore::ValidName(std::string_view name) {
  if (name.empty() || name.size() > 8) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '.' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool AccountStore::IsAdmin(std::string_view name) const {
  const auto found = accounts_.find(std::string(name));
  return found != accounts_.end() && found->second.admin;
}

bool AccountStore::Read(Map& accounts, std::string& error) const {
  accounts.clear();
  QFile file(QString::fromStdString(path_));
  if (!file.exists()) return true;
  if (!file.open(QIODevice::ReadOnly)) {
    error = "cannot read " + path_ + ": " + file.errorString().toStdString();
    return false;
  }
  int lineNumber = 0;
  while (!file.atEnd()) {
    ++lineNumber;
    std::string line = file.readLine().toStdString();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> parts = SplitColons(line);
    const auto bad = [&](const std::string& why) {
      error = path_ + ", line " + std::to_string(lineNumber) + ": " + why;
      accounts.clear();
      return false;
    };
    if (parts.size() != 5 && parts.size() != 6) return bad("not a valid account");
    Entry entry;
    entry.iterations = ov::ParseInt(parts[2], 0);
    // A huge count would hold every login with this name (and every decoy check) for minutes.
    if (entry.iterations > kMaxHashIterations)
      return bad("more than " + std::to_string(kMaxHashIterations) + " iterations");
    if (parts.size() == 6 && parts[5] != "admin" && parts[5] != "user")
      return bad("the role is neither admin nor user");
    entry.admin = parts.size() == 5 || parts[5] == "admin";
    const bool ok = ValidName(parts[0]) && parts[1] == kScheme && entry.iterations > 0 &&
                    FromHex(parts[3], entry.salt) && FromHex(parts[4], entry.hash) &&
                    entry.hash.size() == kHashBytes && !accounts.count(parts[0]);
    if (!ok) return bad("not a valid account");
    accounts[parts[0]] = std::move(entry);
  }
  return true;
}

AccountStore::FileStamp AccountStore::Stamp() const {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0) return {};
  return {static_cast<long long>(info.st_ino), static_cast<long long>(info.st_size),
          static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
}

bool AccountStore::Load(std::string& error) {
  const FileStamp stamp = Stamp();
  if (!Read(accounts_, error)) return false;
  loaded_ = stamp;
  return true;
}

bool AccountStore::Refresh(std::string& error) {
  const FileStamp stamp = Stamp();
  if (stamp == loaded_) return true;
  Map fresh;
  if (!Read(fresh, error)) return false;
  accounts_ = std::move(fresh);
  loaded_ = stamp;
  return true;
}

AccountStore::Entry AccountStore::NewEntry(std::string_view password, bool admin) const {
  Entry entry;
  entry.iterations = iterations_;
  entry.admin = admin;
  QByteArray salt(kSaltBytes, '\0');
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(salt.data()), kSaltBytes / 4);
  entry.salt = salt.toStdString();
  entry.hash = Derive(password, entry.salt, entry.iterations);
  return entry;
}

bool PasswordCheck::Run(std::string_view password) const {
  const bool same = SameBytes(Derive(password, salt, iterations), hash);
  return real && same;
}

int AccountStore::HighestIterations() const {
  int highest = iterations_;
  for (const auto& [name, entry] : accounts_) highest = std::max(highest, entry.iterations);
  return highest;
}

PasswordCheck AccountStore::CheckFor(std::string_view name) const {
  const auto found = accounts_.find(std::string(name));
  if (found == accounts_.end())
    return {HighestIterations(), std::string(kSaltBytes, 'x'), std::string(kHashBytes, 'x'), false};
  return {found->second.iterations, found->second.salt, found->second.hash, true};
}

AccountStore::Outcome AccountStore::Update(const std::function<Outcome(Map&)>& change, std::string& error,
                                           Lock how) {
  // The lock is a file of its own: the accounts file is replaced by a rename on every write, so a lock
  // on it would be held on a file that is no longer there.
  const std::string lockPath = path_ + ".lock";
  const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) {
    error = "cannot open " + lockPath + ": " + std::strerror(errno);
    return Outcome::SaveFailed;
  }
  // Another writer holds it for a moment only; one that holds it for long is not waited for forever.
  bool locked = ::flock(lock, LOCK_EX | LOCK_NB) == 0;
  for (int tries = 0; how == Lock::Wait && tries < 500 && !locked; ++tries) {
    ::usleep(10000);
    locked = ::flock(lock, LOCK_EX | LOCK_NB) == 0;
  }
  if (!locked) {
    ::close(lock);
    error = lockPath + " stays locked by another process";
    return how == Lock::Wait ? Outcome::SaveFailed : Outcome::Busy;
  }
  Outcome outcome = Outcome::SaveFailed;
  // A hand edit takes no lock: when the file changed between reading and replacing it, the change is
  // made again on what it holds now.
  constexpr int kAttempts = 5;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    Map current;
    const FileStamp stamp = Stamp();
    if (!Read(current, error)) {
      outcome = Outcome::SaveFailed;
      break;
    }
    accounts_ = current;  // what others wrote meanwhile counts, whatever this change makes of it
    loaded_ = stamp;
    outcome = change(current);
    if (outcome != Outcome::Done) break;
    bool changed = false;
    if (Save(current, stamp, changed, error)) {
      accounts_ = std::move(current);
      loaded_ = Stamp();
      break;
    }
    outcome = Outcome::SaveFailed;
    if (!changed) break;
    error = path_ + " kept changing while it was written";
  }
  ::close(lock);  // releases the lock
  return outcome;
}

AccountStore::Outcome AccountStore::Add(std::string_view name, std::string_view password, bool admin,
                                        std::string& error) {
  if (!ValidName(name)) return Outcome::BadName;
  if (ov::PadTo16(password) == std::string(16, ' ')) return Outcome::EmptyPassword;
  return AddEntry(name, NewEntry(password, admin), error);
}

AccountStore::Outcome AccountStore::AddEntry(std::string_view name, const Entry& entry, std::string& error,
                                             Lock lock) {
  if (!ValidName(name)) return Outcome::BadName;
  return Update(
      [&](Map& accounts) {
        // "Bob" next to "bob" would be two accounts that people and logs cannot tell apart.
        const QString wanted = QString::fromStdString(std::string(name));
        for (const auto& [existing, held] : accounts)
          if (QString::fromStdString(existing).compare(wanted, Qt::CaseInsensitive) == 0)
            return Outcome::Exists;
        accounts[std::string(name)] = entry;
        return Outcome::Done;
      },
      error, lock);
}

AccountStore::Outcome AccountStore::ChangePassword(std::string_view name, std::string_view oldPassword,
                                                   std::string_view newPassword, std::string& error) {
  const PasswordCheck check = CheckFor(name);
  if (!check.Run(oldPassword)) return Outcome::WrongLogin;
  // Checked first all the same, so that the answer does not tell a wrong password from an empty one.
  if (ov::PadTo16(newPassword) == std::string(16, ' ')) return Outcome::EmptyPassword;
  return Replace(name, check, NewEntry(newPassword, IsAdmin(name)), error);
}

AccountStore::Outcome AccountStore::Replace(std::string_view name, const PasswordCheck& verified,
                                            const Entry& entry, std::string& error, Lock lock) {
  return Update(
      [&](Map& accounts) {
        const auto found = accounts.find(std::string(name));
        // Changed meanwhile (or gone): the old password was checked against what is no longer there.
        if (!verified.real || found == accounts.end() || found->second.salt != verified.salt ||
            found->second.hash != verified.hash || found->second.iterations != verified.iterations)
          return Outcome::WrongLogin;
        found->second.iterations = entry.iterations;
        found->second.salt = entry.salt;
        found->second.hash = entry.hash;
        return Outcome::Done;
      },
      error, lock);
}

bool AccountStore::Save(const Map& accounts, const FileStamp& stamp, bool& changed,
                        std::string& error) const {
  changed = false;
  std::string text = "# Orvane OV server accounts: name:scheme:iterations:salt:hash:role\n";
  for (const auto& [name, entry] : accounts)
    text += name + ":" + kScheme + ":" + std::to_string(entry.iterations) + ":" + ToHex(entry.salt) + ":" +
            ToHex(entry.hash) + ":" + (entry.admin ? "admin" : "user") + "\n";
  // Checked at the last moment, once the new file is on the disk: a hand edit takes no lock, and one
  // that lands while the new file is written would otherwise be renamed away.
  const WriteOutcome outcome = WriteWholeFile(path_, text, 0600, error, [&] {
    if (beforeReplace) beforeReplace();
    changed = Stamp() != stamp;
    return !changed;
  });
  return outcome == WriteOutcome::Written;
}

}  // namespace ovs
