#include "ovserver/server_config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ovserver/accounts.h"
#include "wire/payload.h"

namespace ovs {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trim(std::string_view text) {
  size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  size_t last = text.size();
  while (last > first && IsBlank(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}

// Bytes that would break the fields or frames of the messages that carry a name or caption.
bool HoldsFrameBytes(std::string_view text) {
  return text.find_first_of(std::string_view("\x80\xFD\xFE", 3)) != std::string_view::npos;
}

struct NumberSetting {
  const char* key;
  int ServerConfig::*field;
  int min;
  int max;
};

constexpr NumberSetting kNumbers[] = {
    {"backlog", &ServerConfig::backlogLines, 0, 100000},
    {"max-servers", &ServerConfig::maxServers, 1, 1000},
    {"max-servers-per-user", &ServerConfig::maxServersPerUser, 1, 1000},
    {"max-connections", &ServerConfig::maxConnections, 1, 100000},
    {"max-connections-per-user", &ServerConfig::maxConnectionsPerUser, 1, 100000},
    {"login-delay-ms", &ServerConfig::loginDelayMs, 0, 60000},
    {"guess-delay-ms", &ServerConfig::guessDelayMs, 0, 60000},
    {"guess-delay-max-seconds", &ServerConfig::guessDelayMaxSeconds, 0, 600},
    {"login-timeout-seconds", &ServerConfig::loginTimeoutSeconds, 1, 86400},
    {"silent-timeout-seconds", &ServerConfig::silentTimeoutSeconds, 1, 86400},
    {"max-logins-per-address", &ServerConfig::maxLoginsPerAddress, 1, 100000},
    {"max-waiting-checks", &ServerConfig::maxWaitingChecks, 1, 100000},
    {"max-waiting-checks-per-address", &ServerConfig::maxWaitingChecksPerAddress, 1, 100000},
    {"log-lines-per-second", &ServerConfig::logLinesPerSecond, 1, 100000},
    {"log-lines-per-connection", &ServerConfig::logLinesPerConnection, 1, 100000},
    {"accounts-lock-wait-ms", &ServerConfig::accountsLockWaitMs, 0, 60000},
    {"hash-iterations", &ServerConfig::hashIterations, 1000, kMaxHashIterations},
};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// The word an option names: "--status-port=5" and "-Port" name status-port and port; "" for no option.
std::string OptionName(std::string_view argument) {
  const size_t start = argument.find_first_not_of('-');
  if (start == 0 || start == std::string_view::npos) return "";
  const char first = argument[start];
  if (!((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z'))) return "";  // -5 is a value
  return Lower(std::string(argument.substr(start, argument.find('=') - start)));
}

// The settings a type's arguments set, in lower case.
std::vector<std::string> FixedSettings(const std::vector<std::string>& arguments) {
  std::vector<std::string> names;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string word = Lower(arguments[i]);
    const bool set = word == "+set" || word == "+seta" || word == "+sets" || word == "+setu";
    if (set && i + 1 < arguments.size()) {
      names.push_back(Lower(arguments[++i]));
    } else if (const std::string option = OptionName(word); !option.empty()) {
      names.push_back(option);
    }
  }
  return names;
}

// The first of names that argument names as a word of its own (letters, digits, "_" and "-", leading
// dashes aside), in any letter case: "+set NET_PORT 1", "+net_port", "--status-port=5". "" for none.
std::string NamedIn(std::string_view argument, const std::vector<std::string>& names) {
  for (size_t at = 0; at < argument.size();) {
    if (!IsNameChar(argument[at])) {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < argument.size() && IsNameChar(argument[end])) ++end;
    std::string word = Lower(std::string(argument.substr(at, end - at)));
    word.erase(0, word.find_first_not_of('-'));
    for (const std::string& name : names)
      if (!word.empty() && word == name) return name;
    at = end;
  }
  return "";
}

// "TYPE on-crash N/SECONDS" for a type named before; the reason it is refused, or "".
// A restart for an optional type that is not installed is left out with it.
std::string ParseRestart(const std::string& value, const std::vector<std::string>& skipped,
                         ServerConfig& config) {
  std::istringstream words(value);
  std::string typeName, when, limit, rest;
  words >> typeName >> when >> limit >> rest;
  const std::string form =
      "restart must be TYPE on-crash N/SECONDS, N from 1 to 100, SECONDS from 1 to 86400";
  if (when != "on-crash" || !rest.empty()) return form;
  const size_t slash = limit.find('/');
  const int count = ov::ParseInt(limit.substr(0, slash), 0);
  const int seconds = slash == std::string::npos ? 0 : ov::ParseInt(limit.substr(slash + 1), 0);
  if (count < 1 || count > 100 || seconds < 1 || seconds > 86400) return form;
  auto type = std::find_if(config.types.begin(), config.types.end(),
                           [&](const ServerType& candidate) { return candidate.name == typeName; });
  if (type == config.types.end() && std::count(skipped.begin(), skipped.end(), typeName) != 0) return "";
  if (type == config.types.end())
    return "restart names \"" + Blanked(typeName) + "\", which no type line before it defines";
  type->restart = {count, seconds};
  return "";
}

}  // namespace

bool UsesGamePort(const ServerType& type) {
  for (const std::string& argument : type.arguments)
    if (argument.find(kPortMark) != std::string::npos) return true;
  return false;
}

bool ComposeArguments(const ServerType& type, const std::vector<std::string>& userArgs, int port,
                      std::vector<std::string>& arguments, std::string& error) {
  // A Quake-engine server reads its arguments as one line of at most 1024 bytes, cut into at most 32
  // commands (its wrapper script takes some of both): the type's arguments, which come last, must not
  // be pushed beyond either and dropped.
  size_t bytes = 0, commands = 0;
  for (const std::string& argument : userArgs) {
    bytes += argument.size() + 1;
    commands += size_t(std::count_if(argument.begin(), argument.end(),
                                     [](char c) { return c == '+' || c == '\n' || c == '\r'; }));
  }
  if (bytes > kMaxUserCommandLine || commands > kMaxUserCommands) {
    error = "the command line is longer than " + std::to_string(kMaxUserCommandLine) +
            " bytes or holds more than " + std::to_string(kMaxUserCommands) +
            " commands, so the game server could drop the type's arguments after it";
    return false;
  }
  const std::vector<std::string> fixed = FixedSettings(type.arguments);
  for (const std::string& argument : userArgs) {
    if (const std::string name = NamedIn(argument, fixed); !name.empty()) {
      error = name + " is set by the server type " + type.name + " and cannot be set again";
      return false;
    }
    if (std::count(argument.begin(), argument.end(), '"') % 2 != 0) {
      error = "an unpaired double quote in the command line";
      return false;
    }
  }
  arguments = userArgs;
  const std::string mark = kPortMark;
  for (std::string argument : type.arguments) {
    for (size_t at; (at = argument.find(mark)) != std::string::npos;)
      argument.replace(at, mark.size(), std::to_string(port));
    arguments.push_back(std::move(argument));
  }
  for (const std::string& argument : arguments) {
    if (argument.find('\0') != std::string::npos) {
      error = "an argument holds a zero byte";
      return false;
    }
  }
  return true;
}

std::string Blanked(std::string_view text) {
  std::string blanked(text);
  for (char& c : blanked)
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F') c = ' ';
  return blanked;
}

const ServerType* ServerConfig::FindType(std::string_view typeName) const {
  for (const ServerType& type : types)
    if (type.name == typeName) return &type;
  return nullptr;
}

bool SplitCommandLine(std::string_view line, std::vector<std::string>& args, std::string& error) {
  args.clear();
  std::string current;
  bool inArgument = false;
  char quote = 0;
  for (char c : line) {
    if (quote != 0) {
      if (c == quote)
        quote = 0;
      else
        current += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      inArgument = true;
    } else if (IsBlank(c)) {
      if (inArgument) args.push_back(std::move(current));
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (quote != 0) {
    error = std::string("unterminated ") + (quote == '"' ? "double" : "single") + " quote";
    return false;
  }
  if (inArgument) args.push_back(std::move(current));
  return true;
}

bool ParseConfig(std::string_view text, const std::string& baseDir, ServerConfig& config, std::string& error,
                 std::vector<std::string>& notes) {
  std::istringstream in{std::string(text)};
  std::string raw;
  int lineNumber = 0;
  std::vector<std::string> skipped;  // optional types that are not installed
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(lineNumber) + ": " + why;
    return false;
  };
  while (std::getline(in, raw)) {
    ++lineNumber;
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    const size_t cut = line.find_first_of(" \t");
    const std::string key = line.substr(0, cut);
    const std::string value = cut == std::string::npos ? "" : Trim(std::string_view(line).substr(cut));

    if (key == "name" || key == "caption") {
      if (value.empty()) return fail(key + " is empty");
      if (HoldsFrameBytes(value)) return fail(key + " holds a byte reserved by the protocol");
      (key == "name" ? config.name : config.caption) = Blanked(value);
      continue;
    }
    if (key == "type" || key == "optional-type") {
      std::vector<std::string> words;
      std::string splitError;
      if (!SplitCommandLine(value, words, splitError)) return fail(splitError);
      if (words.size() < 2) return fail(key + " needs a name and an executable");
      ServerType type{Blanked(words[0]), words[1], {words.begin() + 2, words.end()}};
      if (HoldsFrameBytes(type.name)) return fail("type name holds a byte reserved by the protocol");
      if (config.FindType(type.name)) return fail("type \"" + type.name + "\" is named twice");
      if (type.executable[0] != '/') type.executable = baseDir + "/" + type.executable;
      if (access(type.executable.c_str(), X_OK) != 0) {
        if (key == "optional-type") {
          skipped.push_back(type.name);
          notes.push_back("server type \"" + type.name + "\" skipped: " + type.executable +
                          " is not installed");
          continue;
        }
        return fail("cannot run " + type.executable);
      }
      if (config.types.size() == kMaxServerTypes)
        return fail("more than " + std::to_string(kMaxServerTypes) + " server types");
      config.types.push_back(std::move(type));
      continue;
    }
    if (key == "game-ports") {
      const size_t dash = value.find('-');
      const int first = ov::ParseInt(value.substr(0, dash), 0);
      const int last = dash == std::string::npos ? 0 : ov::ParseInt(value.substr(dash + 1), 0);
      if (first < 1024 || last > 65535 || last < first)
        return fail("game-ports must be FIRST-LAST, ports from 1024 to 65535 (27960-27999)");
      config.gamePorts = {first, last};
      continue;
    }
    if (key == "restart") {
      if (const std::string why = ParseRestart(value, skipped, config); !why.empty()) return fail(why);
      continue;
    }
    // Settings of the lock-out that the rate bound on guesses replaced: an older file still runs.
    if (key == "lockout-after" || key == "lockout-seconds" || key == "name-lockout-after") {
      notes.push_back("line " + std::to_string(lineNumber) + ": " + key +
                      " is no longer used (see guess-delay-ms and guess-delay-max-seconds)");
      continue;
    }
    bool known = false;
    for (const NumberSetting& setting : kNumbers) {
      if (key != setting.key) continue;
      known = true;
      const int number = ov::ParseInt(value, setting.min - 1);
      if (number < setting.min || number > setting.max)
        return fail(key + " must be a number from " + std::to_string(setting.min) + " to " +
                    std::to_string(setting.max));
      config.*setting.field = number;
    }
    if (!known) return fail("unknown setting \"" + key + "\"");
  }
  return true;
}

bool LoadConfig(const std::string& path, ServerConfig& config, std::string& error,
                std::vector<std::string>& notes) {
  const auto cannot = [&](const std::string& why) {
    error = "cannot read " + path + ": " + why;
    return false;
  };
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return cannot(std::strerror(errno));
  // A directory opens as a stream that reads nothing, which would pass for an empty configuration.
  if (S_ISDIR(info.st_mode)) return cannot("it is a directory, not a file");
  std::ifstream file(path, std::ios::binary);
  if (!file) return cannot(std::strerror(errno));
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return cannot(std::strerror(errno));
  const size_t slash = path.rfind('/');
  const std::string baseDir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  if (!ParseConfig(text.str(), baseDir, config, error, notes)) {
    error = path + ", " + error;
    return false;
  }
  std::istringstream lines(text.str());
  std::string line;
  bool settings = false;
  while (!settings && std::getline(lines, line)) {
    const std::string trimmed = Trim(line);
    settings = !trimmed.empty() && trimmed[0] != '#';
  }
  if (!settings) notes.push_back("warning: " + path + " holds no settings: running on the defaults");
  return true;
}

}  // namespace ovs
