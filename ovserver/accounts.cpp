#include "ovserver/accounts.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QSaveFile>
#include <algorithm>

#include "protocol/account_prompt.h"
#include "protocol/payload.h"

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

bool AccountStore::Load(std::string& error) {
  accounts_.clear();
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
    Entry entry;
    entry.iterations = parts.size() == 5 ? ov::ParseInt(parts[2], 0) : 0;
    const bool ok = parts.size() == 5 && ValidName(parts[0]) && parts[1] == kScheme && entry.iterations > 0 &&
                    FromHex(parts[3], entry.salt) && FromHex(parts[4], entry.hash) &&
                    entry.hash.size() == kHashBytes && !accounts_.count(parts[0]);
    if (!ok) {
      error = path_ + ", line " + std::to_string(lineNumber) + ": not a valid account";
      accounts_.clear();
      return false;
    }
    accounts_[parts[0]] = std::move(entry);
  }
  return true;
}

AccountStore::Entry AccountStore::MakeEntry(std::string_view password) const {
  Entry entry;
  entry.iterations = iterations_;
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

AccountStore::Outcome AccountStore::Add(std::string_view name, std::string_view password,
                                        std::string& error) {
  if (!ValidName(name)) return Outcome::BadName;
  if (ov::PadTo16(password) == std::string(16, ' ')) return Outcome::EmptyPassword;
  if (Has(name)) return Outcome::Exists;
  accounts_[std::string(name)] = MakeEntry(password);
  if (!Save(error)) {
    accounts_.erase(std::string(name));
    return Outcome::SaveFailed;
  }
  return Outcome::Done;
}

AccountStore::Outcome AccountStore::ChangePassword(std::string_view name, std::string_view oldPassword,
                                                   std::string_view newPassword, std::string& error) {
  if (!Verify(name, oldPassword)) return Outcome::WrongLogin;
  if (ov::PadTo16(newPassword) == std::string(16, ' ')) return Outcome::EmptyPassword;
  Entry& entry = accounts_[std::string(name)];
  const Entry previous = entry;
  entry = MakeEntry(newPassword);
  if (!Save(error)) {
    accounts_[std::string(name)] = previous;
    return Outcome::SaveFailed;
  }
  return Outcome::Done;
}

bool AccountStore::Save(std::string& error) const {
  QSaveFile file(QString::fromStdString(path_));
  if (!file.open(QIODevice::WriteOnly)) {
    error = "cannot write " + path_ + ": " + file.errorString().toStdString();
    return false;
  }
  file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  std::string text = "# Orvane OV server accounts: name:scheme:iterations:salt:hash\n";
  for (const auto& [name, entry] : accounts_)
    text += name + ":" + kScheme + ":" + std::to_string(entry.iterations) + ":" + ToHex(entry.salt) + ":" +
            ToHex(entry.hash) + "\n";
  file.write(text.data(), qint64(text.size()));
  if (!file.commit()) {
    error = "cannot write " + path_ + ": " + file.errorString().toStdString();
    return false;
  }
  return true;
}

}  // namespace ovs
