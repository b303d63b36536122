// The client's options beside the debug switch: --help, --version, and a warning for an option that
// neither the client nor Qt knows (it is ignored, and the program goes on).
#pragma once

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

#ifndef OV_VERSION
#define OV_VERSION "unknown"
#endif

namespace ov::command_line {

// Qt's X11 options stay in the arguments when another platform plugin runs (offscreen, Wayland).
inline void AddOptions(QCommandLineParser& parser) {
  parser.setApplicationDescription(
      "Orvane Client: administers Quake game servers through OV servers.\n"
      "-DEBUG anywhere in the command line, in any letter case, shows the debug pane.\n"
      "Qt's options (-platform, -display, -style...) are accepted too: see --help-all.");
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(QCommandLineOption(
      "connect",
      "Connects at start-up to the OV server at ADDRESS (dotted IPv4, a host name, or IPv6 as [::1] or "
      "bare), on PORT (4044 when not given). Repeatable.",
      "ADDRESS[:PORT]"));
  for (const char* name : {"display", "geometry", "title", "name", "visual"}) {
    QCommandLineOption option(name, "", "value");
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  for (const char* name : {"sync", "nograb", "dograb"}) {
    QCommandLineOption option(name);
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
}

// The debug switch is honoured wherever it stands, so an argument that holds it is never an unknown option.
inline QStringList WithoutDebugSwitch(const QStringList& arguments) {
  QStringList kept;
  for (const QString& argument : arguments)
    if (!argument.contains("-DEBUG", Qt::CaseInsensitive)) kept << argument;
  return kept;
}

// Before the application exists: answers --help and --version and ends the program, so neither needs a
// display (--help-all, which lists Qt's options, is answered once they are known). Returns otherwise.
inline void AnswerHelpOrVersion(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  AddOptions(parser);
  parser.parse(WithoutDebugSwitch(arguments));  // errors are reported once Qt has taken its own options
  if (!parser.isSet("help") && !parser.isSet("version")) return;
  QCoreApplication::setApplicationName("orvane-client");
  QCoreApplication::setApplicationVersion(OV_VERSION);
  QCoreApplication core(argc, argv);  // for the program's name in the usage line
  if (parser.isSet("version")) parser.showVersion();
  parser.showHelp(0);
}

// Once QApplication has taken Qt's options out of the arguments: an option left that the client does not
// know, or one without its value, is named on standard error and ignored; the program goes on.
inline void WarnOfUnknownOptions() {
  QCommandLineParser parser;
  AddOptions(parser);
  const QStringList arguments = WithoutDebugSwitch(QCoreApplication::arguments());
  if (!parser.parse(arguments)) {
    std::fprintf(stderr, "orvane-client: %s It is ignored.\n", qPrintable(parser.errorText()));
  }
  if (parser.isSet("help-all")) parser.process(arguments);  // prints the help with Qt's options and exits
}

// The servers to connect to at start-up, in the order given (once Qt has taken its own options).
inline QStringList ConnectTargets() {
  QCommandLineParser parser;
  AddOptions(parser);
  parser.parse(WithoutDebugSwitch(QCoreApplication::arguments()));
  return parser.values("connect");
}

}  // namespace ov::command_line
