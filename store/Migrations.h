#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

class Database;

// The schema, as an ordered list of migrations applied once each and recorded in a ledger.
namespace Migrations {
// Identifiers in the order they are applied ("v3" comes before "v2").
QStringList identifiers();
// Applies every migration not yet in the ledger, each in its own transaction with
// foreign keys checked at commit, and returns the identifiers it applied. Throws
// StoreError; a failed migration leaves no trace.
QStringList migrate(Database& database);
QSet<QString> applied(Database& database);
} // namespace Migrations
