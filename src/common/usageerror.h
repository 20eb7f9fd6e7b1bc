#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// What QCommandLineParser found wrong with arguments, for both programs. It words its
// complaints in English only; the one most often met, an unknown option, is said in both
// languages and quoted as typed, the rest get a Chinese lead.
QString parserProblem(const QCommandLineParser &parser, const QStringList &arguments);
