// "ORUK Settings": shows the stored editor and stores a new one.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

namespace oruk {

class SettingsWindow : public QDialog {
    Q_OBJECT

  public:
    explicit SettingsWindow(QWidget* parent = nullptr);

  signals:
    // The editor as stored after "Apply".
    void editorApplied(const QString& editor);

  private:
    void apply();
    void chooseEditor();
    void showStoredEditor();

    QLabel* currentEditor_ = nullptr;
    QLineEdit* editorCommand_ = nullptr;
};

} // namespace oruk
