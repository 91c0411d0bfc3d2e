// vantor-comm station: its options, and its log on standard error.
#pragma once

#include <QStringList>

namespace vantor::cli {

int stationCommand(const QStringList& args);

}  // namespace vantor::cli
