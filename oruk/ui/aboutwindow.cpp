#include "oruk/ui/aboutwindow.hpp"

#include "latent/version.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace oruk {

namespace {

QLabel* label(const QString& text, const char* name = nullptr) {
    auto* widget = new QLabel(text);
    widget->setWordWrap(true);
    if (name) widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutWindow"));
    setWindowTitle(QStringLiteral("About ORUK"));
    auto* layout = new QVBoxLayout(this);

    QLabel* title = label(QStringLiteral("ORUK - Latent Model Interface"));
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    title->setFont(titleFont);
    layout->addWidget(title);

    auto* version = new QHBoxLayout;
    version->addWidget(new QLabel(QStringLiteral("Version:")));
    version->addWidget(label(QString::fromUtf8(latent::version()), "versionLabel"));
    version->addStretch();
    layout->addLayout(version);

    layout->addWidget(label(QStringLiteral("A desktop front end that prepares, runs and shows "
                                           "the latent variable estimators."),
                            "orukDescriptionLabel"));
    layout->addWidget(label(QStringLiteral("TRAVIK fits latent trait models with one or two "
                                           "factors to binary, normal, nominal and ordinal items."),
                            "travikDescriptionLabel"));
    layout->addWidget(label(QStringLiteral("PLOVEN fits latent class models to binary items."),
                            "plovenDescriptionLabel"));

    auto* buttons = new QHBoxLayout;
    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("closeAboutButton"));
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    setMinimumWidth(380);
}

} // namespace oruk
