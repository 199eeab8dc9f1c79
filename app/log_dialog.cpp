#include "app/log_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>

void ShowLogDialog(QWidget* parent, const QString& title, const QString& text, const QString& name) {
    QDialog dialog(parent);
    dialog.setObjectName(name + QStringLiteral("Dialog"));
    dialog.setWindowTitle(title);
    auto* box = new QPlainTextEdit(text, &dialog);
    box->setObjectName(name + QStringLiteral("Text"));
    box->setReadOnly(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(box);
    layout->addWidget(buttons);
    dialog.resize(560, 320);
    dialog.exec();
}
