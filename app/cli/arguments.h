// Argument parsing shared by the subcommands.
#pragma once

#include <QCommandLineParser>
#include <QStringList>
#include <optional>

namespace vantor::cli {

// Parses `args` with `parser` (adding --help). Returns an exit status when
// the program should stop at once: 0 after --help, 2 on a usage error
// (reported on standard error); nothing when it may go on.
std::optional<int> parseArguments(QCommandLineParser& parser, const QStringList& args,
                                  int positionals);

// A number option; a usage error (reported) when it is not one or lies
// outside [low, high].
std::optional<double> numberOption(const QCommandLineParser& parser, const QString& name,
                                   double low, double high, bool whole);

}  // namespace vantor::cli
