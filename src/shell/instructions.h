// The instructions window: how to use the program, in a short text.
#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

namespace morvantile::shell {

inline constexpr char kInstructionsCaption[] = "Morvantile: instructions";

// The instructions text, line by line.
QStringList instructions();

class TfrmInstructions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmInstructions(QWidget* parent = nullptr);
    QString text() const;

public:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPlainTextEdit* Memo1;
};

}  // namespace morvantile::shell
