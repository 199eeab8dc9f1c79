#include "ui/form_rows.h"

#include <QLabel>

namespace sealbench {

QPushButton* AddFieldRow(QGridLayout* grid, int row, const QString& caption, QWidget* field,
                         const QString& buttonText) {
    QWidget* owner = grid->parentWidget();
    auto* label = new QLabel(caption, owner);
    label->setBuddy(field);
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
    if (buttonText.isEmpty()) {
        return nullptr;
    }
    auto* button = new QPushButton(buttonText, owner);
    grid->addWidget(button, row, 2);
    return button;
}

}  // namespace sealbench
