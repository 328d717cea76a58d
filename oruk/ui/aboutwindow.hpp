// "About ORUK": the program's name, version and credits.
#pragma once

#include <QDialog>

namespace oruk {

class AboutWindow : public QDialog {
    Q_OBJECT

  public:
    explicit AboutWindow(QWidget* parent = nullptr);
};

} // namespace oruk
