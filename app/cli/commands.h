// The subcommands of vantor-comm. Each takes its own arguments (the
// subcommand's name first) and returns the exit status.
#pragma once

#include <QStringList>

namespace vantor::cli {

int downloadCommand(const QStringList& args);
int viewCommand(const QStringList& args);
int listCommand(const QStringList& args);
// Needs a QApplication (the charts are widgets); built with Qt Charts only.
int plotCommand(const QStringList& args);
int decodeCommand(const QStringList& args);
int simulateCommand(const QStringList& args);
int demoCommand(const QStringList& args);

}  // namespace vantor::cli
