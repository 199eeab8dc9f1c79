// A board's status log in a dialog of its own, read-only, closed with "Close": what
// the Boards page's "Log" button and a station tile's "Why?" show.
#pragma once

#include <QString>

class QWidget;

// Shows `text` modally; the dialog is named NAME + "Dialog", its text box NAME + "Text".
void ShowLogDialog(QWidget* parent, const QString& title, const QString& text, const QString& name);
