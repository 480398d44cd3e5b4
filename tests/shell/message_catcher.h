// Answers the program's modal message windows while a test runs: every
// few milliseconds it records the text of any open message window and
// closes it, so code that shows one does not wait for a person.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <string>
#include <vector>

#include "shell/errormsg.h"
#include "shell/windows.h"

namespace morvantile::test {

struct MessageCatcher {
    std::vector<std::string> texts;
    QTimer timer;
    MessageCatcher() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* message = qobject_cast<shell::Tmessagedlg*>(w);
                if (message && message->isVisible()) {
                    texts.push_back(shell::to_bytes(message->text()));
                    message->accept();
                }
            }
        });
        timer.start(20);
    }
};

}  // namespace morvantile::test
