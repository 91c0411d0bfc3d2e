#include "arguments.h"

#include <QCoreApplication>
#include <cmath>
#include <cstdio>

namespace vantor::cli {

namespace {

// Qt names the program by its path; the usage line names the command instead.
QString helpText(const QCommandLineParser& parser, const QStringList& args) {
    QString text = parser.helpText();
    const QString program = QCoreApplication::arguments().value(0);
    int at = text.indexOf(program);
    if (at >= 0 && !program.isEmpty()) text.replace(at, program.size(), args.value(0));
    return text;
}

}  // namespace

std::optional<int> parseArguments(QCommandLineParser& parser, const QStringList& args,
                                  int positionals) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QCommandLineOption help({"h", "help"}, "Show this help.");
    parser.addOption(help);
    if (!parser.parse(args)) {
        std::fprintf(stderr, "%s\n%s", parser.errorText().toLocal8Bit().constData(),
                     helpText(parser, args).toLocal8Bit().constData());
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(helpText(parser, args).toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.positionalArguments().size() != positionals) {
        std::fprintf(stderr, "%s\n%s",
                     positionals == 0 ? "unexpected argument" : "wrong number of arguments",
                     helpText(parser, args).toLocal8Bit().constData());
        return 2;
    }
    return std::nullopt;
}

std::optional<double> numberOption(const QCommandLineParser& parser, const QString& name,
                                   double low, double high, bool whole) {
    bool ok = false;
    double value = parser.value(name).toDouble(&ok);
    if (!ok || !(value >= low && value <= high) || (whole && std::floor(value) != value)) {
        std::fprintf(stderr, "--%s: '%s' is not a valid value\n", name.toLocal8Bit().constData(),
                     parser.value(name).toLocal8Bit().constData());
        return std::nullopt;
    }
    return value;
}

}  // namespace vantor::cli
