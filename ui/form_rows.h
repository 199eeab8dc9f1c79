// The rows the pages are made of: a caption, the field it names, and often a button
// beside it ("Browse"). One helper lays them out alike on every page.
#pragma once

#include <QGridLayout>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace sealbench {

// Adds `caption` in column 0 and `field` in column 1 of `row`; with a button text,
// also a button in column 2, which is returned (nullptr without one). The new
// widgets belong to the grid's widget.
QPushButton* AddFieldRow(QGridLayout* grid, int row, const QString& caption, QWidget* field,
                         const QString& buttonText = {});

}  // namespace sealbench
