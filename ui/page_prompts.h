// How the file pages talk to their user: message boxes and file choosers. A page
// holds one PagePrompts and calls it instead of the dialogs directly, so that the
// same page runs under a test that answers in place of the user.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "ui/file_filter.h"

namespace sealbench {

inline const QString kApplicationTitle = QStringLiteral("Sealbench");

struct PagePrompts {
    // A message box with an OK button.
    std::function<void(const QString& text, const QString& caption)> message;
    // One file, existing or to be created; an empty text when cancelled.
    std::function<QString(const QString& title, const QString& filter, const QString& proposed)> chooseFile;
    // Several existing files; empty when cancelled.
    std::function<QStringList(const QString& title, const QString& filter)> chooseFiles;

    void Show(const QString& text, const QString& caption = kApplicationTitle) const { message(text, caption); }

    // The real dialogs, parented to `owner`.
    static PagePrompts Dialogs(QWidget* owner) {
        PagePrompts prompts;
        prompts.message = [owner](const QString& text, const QString& caption) {
            QMessageBox::information(owner, caption, text, QMessageBox::Ok);
        };
        // An open-kind chooser that also accepts a name that does not exist yet.
        prompts.chooseFile = [owner](const QString& title, const QString& filter, const QString& proposed) {
            QFileDialog dialog(owner, title, QString(), NameFiltersOf(filter).join(QStringLiteral(";;")));
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
            if (!proposed.isEmpty()) {
                dialog.selectFile(proposed);
            }
            return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                       ? dialog.selectedFiles().first()
                       : QString();
        };
        prompts.chooseFiles = [owner](const QString& title, const QString& filter) {
            return QFileDialog::getOpenFileNames(owner, title, QString(),
                                                 NameFiltersOf(filter).join(QStringLiteral(";;")));
        };
        return prompts;
    }
};

}  // namespace sealbench
