#pragma once

#include <QStringList>

namespace corvalen {

// One a command, each in the file of its name; each returns the exit status.
int runCount(const QStringList &arguments);
int runContext(const QStringList &arguments);
int runDispersion(const QStringList &arguments);
int runCollocates(const QStringList &arguments);
int runClusters(const QStringList &arguments);
int runKeywords(const QStringList &arguments);

} // namespace corvalen
