// Answers a page's message boxes and file choosers in place of the user: messages
// are recorded, file choosers return queued answers (an empty text = Cancel).
#pragma once

#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <deque>

#include "ui/page_prompts.h"

namespace sealbench::test {

struct FakeUser {
    QStringList messages;
    QStringList captions;
    QStringList titles;  // of the choosers, in order
    std::deque<QString> files;
    std::deque<QStringList> fileLists;

    PagePrompts Prompts() {
        PagePrompts prompts;
        prompts.message = [this](const QString& text, const QString& caption) {
            messages << text;
            captions << caption;
        };
        prompts.chooseFile = [this](const QString& title, const QString&, const QString&) {
            titles << title;
            QString answer = files.empty() ? QString() : files.front();
            if (!files.empty()) {
                files.pop_front();
            }
            return answer;
        };
        prompts.chooseFiles = [this](const QString& title, const QString&) {
            titles << title;
            QStringList answer = fileLists.empty() ? QStringList() : fileLists.front();
            if (!fileLists.empty()) {
                fileLists.pop_front();
            }
            return answer;
        };
        return prompts;
    }
};

// Clicks the `index`-th button (in creation order) whose caption is `text`.
inline void ClickButton(QWidget* page, const QString& text, int index = 0) {
    int seen = 0;
    for (QPushButton* button : page->findChildren<QPushButton*>()) {
        if (button->text() == text && seen++ == index) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString() << " #" << index;
}

}  // namespace sealbench::test
