// The message window, through which nearly every error and warning of the
// program is shown.
#pragma once

#include <QDialog>
#include <string_view>

class QLabel;

namespace morvantile::shell {

inline constexpr char kMessageWindowCaption[] = "Morvantile: error!";

class Tmessagedlg : public QDialog {
    Q_OBJECT
public:
    explicit Tmessagedlg(const QString& text, QWidget* parent = nullptr);
    QString text() const;

public:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* l_text;
};

// Shows `text` in the message window, modally, over `over` if given; true
// when it was closed with OK. No check for other open dialogs: this is for
// messages that an open dialog raises about its own work, and for
// show_error once it has made that check.
bool show_message_window(std::string_view text, QWidget* over = nullptr);

}  // namespace morvantile::shell
