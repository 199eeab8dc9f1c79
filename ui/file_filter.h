// File-chooser filters. The pages write them as the platform's open-file dialog
// takes them, "bin files(*.bin)|*.bin|All Files(*.*)|*.*||": pairs of a description
// and its patterns, pipe-separated. Qt's dialogs take a list of descriptions that
// carry their patterns in parentheses.
#pragma once

#include <QString>
#include <QStringList>

namespace sealbench {

// "bin files(*.bin)|*.bin|All Files(*.*)|*.*||" -> {"bin files(*.bin)", "All Files(*.*)"};
// a description without parentheses gets its patterns added ("Scripts (*.txt *.ini)").
QStringList NameFiltersOf(const QString& pipeFilter);

}  // namespace sealbench
