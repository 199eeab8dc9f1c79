#include "ui/file_filter.h"

namespace sealbench {

QStringList NameFiltersOf(const QString& pipeFilter) {
    QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString patterns = parts[i + 1].trimmed();
        if (description.isEmpty() || patterns.isEmpty()) continue;
        // The dialog reads the patterns from the parentheses of the description.
        filters << (description.contains(QLatin1Char('('))
                        ? description
                        : description + QStringLiteral(" (") + QString(patterns).replace(';', ' ') + ')');
    }
    return filters;
}

}  // namespace sealbench
